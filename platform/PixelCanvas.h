#pragma once

#include <QImage>

#include "platform/Desktop.h"
#include "platform/Stretch.h"

// A canvas that reads the desktop's pixels into memory and enlarges them on this side.
class PixelCanvas : public ScreenCanvas {
 public:
  void stretchCopy(const Rect& source, PaintBox& view, const Rect& dest) final;

 protected:
  // The whole desktop, in root-window pixels.
  virtual Rect desktopBounds() = 0;
  // Reads `area`, which lies inside desktopBounds() and is never empty. The pixels stay
  // valid until the next capture.
  virtual CapturedPixels capture(const Rect& area) = 0;
  // The image the enlargement goes into, and how it reaches the screen: by default the
  // view's own image, which Qt paints.
  virtual QImage& target(PaintBox& view);
  virtual void present(PaintBox& view);

 private:
  Stretcher stretcher_;
};
