#pragma once

// Shared by the X11 sources only: xcb stays out of every header the rest of the program sees.

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "platform/Desktop.h"

namespace x11 {

struct FreeReply {
  void operator()(void* p) const { std::free(p); }
};
template <class T>
using Reply = std::unique_ptr<T, FreeReply>;

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

// What the canvases need to know of the display.
struct Display {
  xcb_connection_t* connection = nullptr;
  xcb_screen_t* screen = nullptr;
  bool shm = false;     // MIT-SHM usable
  bool render = false;  // RENDER 0.6 or later: transforms and filters
};

// Enlarges on the server with RENDER: no pixels cross to the program.
std::unique_ptr<ScreenCanvas> createRenderCanvas(const Display& display);
// Reads the pixels (MIT-SHM, else GetImage), enlarges them here and puts them on the view.
std::unique_ptr<ScreenCanvas> createPixelCanvas(const Display& display);

}  // namespace x11
