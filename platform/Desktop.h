#pragma once

#include <QByteArray>
#include <QPoint>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "platform/Rect.h"

class PaintBox;

// A drawing surface that is bound to the whole desktop for the length of one tick and
// stretch-copies a rectangle of it into the view.
class ScreenCanvas {
 public:
  virtual ~ScreenCanvas() = default;

  // Obtains the desktop's drawing context; throws when the desktop cannot be reached.
  virtual void bind() = 0;
  // Gives the context back; one release for every bind.
  virtual void release() noexcept = 0;
  // Copies `source` (desktop pixels, possibly zero-sized or reaching off the screen) into
  // `dest` of the view: each view pixel takes the colour of exactly one source pixel.
  virtual void stretchCopy(const Rect& source, PaintBox& view, const Rect& dest) = 0;
};

// Binds a canvas for one scope, so that an exception half-way still releases the context.
class CanvasBinding {
 public:
  explicit CanvasBinding(ScreenCanvas& canvas) : canvas_(canvas) { canvas_.bind(); }
  ~CanvasBinding() { canvas_.release(); }
  CanvasBinding(const CanvasBinding&) = delete;
  CanvasBinding& operator=(const CanvasBinding&) = delete;

 private:
  ScreenCanvas& canvas_;
};

// What a desktop keeps from one run to the next in the program's settings: the user's leave to
// share the screen, where a portal grants one.
struct Keeping {
  std::function<QByteArray()> read;
  std::function<void(const QByteArray&)> write;
};

// The screen and the pointer: what the magnifier reads on every tick.
class Desktop {
 public:
  virtual ~Desktop() = default;

  // Pointer position in root-window pixels; throws when the server does not answer.
  virtual QPoint pointer() = 0;
  // Monitor rectangles in root-window pixels, the primary monitor first; never empty.
  virtual const std::vector<Rect>& monitors() = 0;
  virtual std::unique_ptr<ScreenCanvas> createCanvas() = 0;
  // Waits until the display has carried out everything asked of it so far.
  virtual void sync() {}

  // Whether the desktop reports its changes (device motion, drawing on the screen). Where it
  // does not, the magnifier must keep looking, and changed() is always true.
  virtual bool reportsChanges() { return false; }
  // Whether anything may have changed since the last call: the pointer moved, or something was
  // drawn on the screen (the view's own drawing included).
  virtual bool changed() { return true; }
  // Calls `wake` once, from the event loop, when anything may have changed; an empty function
  // stops watching. Meanwhile the desktop looks at the pointer now and then itself, for a
  // program may move it, which no report tells.
  virtual void watch(std::function<void()> wake) { (void)wake; }

  // Where to keep what the desktop needs from one run to the next, if anything.
  virtual void keepIn(Keeping keeping) { (void)keeping; }
  // Where to tell the user, in a few words, why the view cannot follow the pointer; an empty
  // text when that is over.
  virtual void reportTo(std::function<void(const QString&)> report) { (void)report; }

  Rect primaryMonitor() { return monitors().front(); }
};
