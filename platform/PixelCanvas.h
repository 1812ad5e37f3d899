#pragma once

#include <QImage>

#include "platform/Desktop.h"
#include "platform/PixelSource.h"
#include "platform/Stretch.h"

// A canvas that reads the desktop's pixels into memory (through its PixelSource hooks,
// desktopBounds() and capture()) and enlarges them on this side.
class PixelCanvas : public ScreenCanvas, protected PixelSource {
 public:
  void stretchCopy(const Rect& source, PaintBox& view, const Rect& dest) final;

 protected:  // Whether `dest` of the view shows `source` already, with nothing drawn over that part
             // of the
  // desktop since: then nothing needs doing. By default it is never known.
  virtual bool shows(const Rect& source, PaintBox& view, const Rect& dest);
  // The image the enlargement goes into, and how it reaches the screen: by default the
  // view's own image, which Qt paints.
  virtual QImage& target(PaintBox& view);
  virtual void present(PaintBox& view, const Rect& source, const Rect& dest);
  // The desktop pixels the enlargement of `source` reads.
  Rect areaOf(const Rect& source);

 private:
  Stretcher stretcher_;
};
