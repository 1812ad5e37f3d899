#pragma once

// Shared by the X11 code only: xcb stays out of every header the rest of the program sees.

#include <xcb/xcb.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "platform/pixels/Rect.h"
#include "platform/system/Log.h"
#include "platform/x11/X11Display.h"

namespace x11 {

struct FreeReply {
  void operator()(void* p) const { std::free(p); }
};
template <class T>
using Reply = std::unique_ptr<T, FreeReply>;

// An X protocol error that nothing waited for (it came as an event), or that a reply carried:
// said in the log, at most once in ten seconds for all the program's connections together, so
// that a request failing on every tick neither floods the log nor goes unsaid.
inline void reportError(const xcb_generic_error_t& e, const char* where) {
  static WarningGate gate;
  if (gate.pass())
    qCWarning(lcX11, "X error %u (request %u.%u, resource 0x%x) %s %s", unsigned{e.error_code},
              unsigned{e.major_code}, unsigned{e.minor_code}, unsigned{e.resource_id}, where,
              gate.note());
}

// A reply taken with `*error` as the place for its error: the error, if any, is told and freed.
//   xcb_generic_error_t* e = nullptr;
//   auto r = checked(xcb_foo_reply(c, cookie, &e), &e, "doing foo");
template <class T>
Reply<T> checked(T* reply, xcb_generic_error_t** error, const char* where) {
  Reply<xcb_generic_error_t> e(*error);
  *error = nullptr;
  if (e) reportError(*e, where);
  return Reply<T>(reply);
}

// Waits until the server has carried out every request sent on `c` so far.
inline void roundTrip(xcb_connection_t* c) {
  Reply<xcb_get_input_focus_reply_t> reply(
      xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
}

// One System V shared memory segment, attached by this process and by the server.
class SharedSegment {
 public:
  // Throws std::runtime_error when the segment cannot be made or the server cannot attach it.
  SharedSegment(xcb_connection_t* c, std::size_t bytes);
  ~SharedSegment();
  SharedSegment(const SharedSegment&) = delete;
  SharedSegment& operator=(const SharedSegment&) = delete;

  std::size_t bytes() const { return bytes_; }
  std::uint32_t id() const { return segment_; }
  std::uint32_t* pixels() const { return static_cast<std::uint32_t*>(address_); }

 private:
  xcb_connection_t* connection_;
  std::size_t bytes_;
  void* address_ = nullptr;
  std::uint32_t segment_ = 0;
};

// `segment` made at least `bytes` large: kept when it is, else the old one goes before the larger
// one is made. Throws as the constructor does, leaving `segment` empty.
void growSegment(std::unique_ptr<SharedSegment>& segment, xcb_connection_t* c, std::size_t bytes);

class DamageWatch;

// What the server tells of changes on the desktop, on the desktop's own connection: device
// motion (XInput 2.2 raw events on the root window) and drawing on the screen (DAMAGE on the
// root window). Where the server lacks either, neither is used and the answer is always "it may
// have changed".
class ChangeWatch {
 public:
  using Clock = std::chrono::steady_clock;
  // A warp moves the pointer with no device motion: the pointer is asked for again at least
  // this often all the same.
  static constexpr auto PointerSafetyInterval = std::chrono::milliseconds(200);

  // With `follow` false nothing is selected, and every answer is "it may have changed".
  ChangeWatch(xcb_connection_t* c, xcb_screen_t* screen, bool follow);
  ChangeWatch(const ChangeWatch&) = delete;
  ChangeWatch& operator=(const ChangeWatch&) = delete;

  // Reads the events that have come, without waiting for any.
  void drain();
  // Whether the pointer may have moved since it was last asked for.
  bool pointerMayHaveMoved(Clock::time_point now) const;
  // The pointer was asked for, and found to have moved or not.
  void pointerQueried(Clock::time_point now, bool moved);
  // Whether anything was reported, or the pointer found moved, since the last call.
  bool takeActivity();
  bool watches() const { return inputOpcode_ != 0; }

 private:
  friend class DamageWatch;
  xcb_connection_t* c_;
  xcb_window_t root_;
  std::uint8_t inputOpcode_ = 0;  // XInput's, when its raw events come
  std::uint8_t damageEvent_ = 0;  // DAMAGE's notify event, when it can be used
  bool moved_ = false;            // device motion since the pointer was last asked for
  bool activity_ = false;         // anything since takeActivity()
  std::optional<Clock::time_point> queried_;
  std::vector<DamageWatch*> watches_;
};

// Drawing on the screen as one reader follows it, with a damage object of its own.
class DamageWatch {
 public:
  explicit DamageWatch(ChangeWatch& changes);
  ~DamageWatch();
  DamageWatch(const DamageWatch&) = delete;
  DamageWatch& operator=(const DamageWatch&) = delete;

  // Whether anything drawn on the screen since the last call, or since forget(), touched `area`
  // (always true where drawing cannot be followed). Takes the drawing in either way.
  bool touched(const Rect& area);
  // For a drawing about to read the screen: it shows everything drawn until now.
  void forget();

 private:
  friend class ChangeWatch;
  ChangeWatch& changes_;
  std::uint32_t id_ = 0;      // the damage object, when there is one
  std::uint32_t region_ = 0;  // where it hands its damage over
  bool pending_ = false;      // something was drawn since the damage was last taken in
};

// What the sources and surfaces need to know of the display.
struct Display {
  xcb_connection_t* connection = nullptr;
  xcb_screen_t* screen = nullptr;
  bool shm = false;     // MIT-SHM usable
  bool render = false;  // RENDER 0.6 or later: transforms and filters
};

struct Disconnect {
  void operator()(xcb_connection_t* c) const { xcb_disconnect(c); }
};
using Connection = std::unique_ptr<xcb_connection_t, Disconnect>;

// A connection to the display DISPLAY names, and the screen it names there (":0.1" is the
// second): every connection of the program works on that one screen. Throws
// std::runtime_error when the display cannot be opened.
std::pair<Connection, xcb_screen_t*> connectToDisplay();

}  // namespace x11

class X11Display {
 public:
  X11Display();
  X11Display(const X11Display&) = delete;
  X11Display& operator=(const X11Display&) = delete;

  // A copy each: a source or surface that finds shared memory failing goes on without it.
  const x11::Display& facts() const { return facts_; }

 private:
  int pixelBits(int depth) const;

  x11::Connection connection_;
  x11::Display facts_;
};
