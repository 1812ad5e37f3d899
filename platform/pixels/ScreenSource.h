#pragma once

#include <QByteArray>
#include <QPoint>
#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/pixels/CapturedPixels.h"
#include "platform/pixels/Rect.h"

// Where a display server holds the screen's pixels itself, so that a surface drawing on the same
// server can enlarge them there, with no pixel crossing to the program.
struct ServerPixels {
  const void* server = nullptr;  // the connection that names `drawable`; none when null
  std::uint32_t drawable = 0;
};

// What a source keeps from one run to the next in the program's settings: the user's permission
// to share the screen, where the desktop asks for one. Writing nothing forgets what was kept.
struct Keeping {
  std::function<QByteArray()> read;
  std::function<void(const QByteArray&)> write;
};

// The screen as the magnifier reads it on every tick: where the pointer is, which monitors there
// are, whether anything changed, and the pixels.
class ScreenSource {
 public:
  virtual ~ScreenSource() = default;

  // Pointer position in device pixels of the desktop; throws when it cannot be told.
  virtual QPoint pointer() = 0;
  // Monitor rectangles in device pixels, the primary monitor first; never empty.
  virtual const std::vector<Rect>& monitors() = 0;
  Rect primaryMonitor() { return monitors().front(); }

  // Whether the source reports its changes (device motion, drawing on the screen). Where it
  // does not, the magnifier must keep looking, and changed() is always true.
  virtual bool reportsChanges() { return false; }
  // Whether anything may have changed since the last call: the pointer moved, or something was
  // drawn on the screen (the view's own drawing included).
  virtual bool changed() { return true; }
  // Calls `wake` once, from the event loop, when anything may have changed; an empty function
  // stops watching.
  virtual void watch(std::function<void()> /*wake*/) {}

  // The whole desktop: every pixel a capture may ask for lies inside.
  virtual Rect desktopBounds() = 0;
  // Whether there is a picture to show around `area`; where there is none (before a screen
  // cast's first frame, say), the view shows its blank colour.
  virtual bool pictured(const Rect& /*area*/) { return true; }
  // Reads `area` (inside desktopBounds(), never empty) into memory; parts no monitor shows are
  // black. The pixels stay valid until the next capture.
  virtual CapturedPixels capture(const Rect& area) = 0;
  // Whether `area` still holds the pixels it held when last read, here or on the server; by
  // default never known.
  virtual bool unchanged(const Rect& /*area*/) { return false; }
  // The pixels are about to be read afresh: what changed until now is in the reading.
  virtual void forgetChanges() {}
  // Where the display server holds the pixels, if it does.
  virtual ServerPixels onServer() { return {}; }

  // Where to keep what the source needs from one run to the next, if anything.
  virtual void keepIn(Keeping /*keeping*/) {}
  // Where to tell the user, in a few words, why the view cannot follow the pointer; an empty
  // text when that is over.
  virtual void reportTo(std::function<void(const QString&)> /*report*/) {}
};
