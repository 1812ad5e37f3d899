#include "platform/PixelCanvas.h"

#include <algorithm>

#include "platform/PaintBox.h"

void PixelCanvas::stretchCopy(const Rect& source, PaintBox& view, const Rect& dest) {
  if (shows(source, view, dest)) return;
  const Rect area = areaOf(source);
  const CapturedPixels pixels = area.isEmpty() ? CapturedPixels{nullptr, 0, area} : capture(area);
  stretcher_.copy(pixels, source, target(view), dest);
  present(view, source, dest);
}

Rect PixelCanvas::areaOf(const Rect& source) {
  // A zero-wide or zero-high source still shows its first column or row.
  const Rect wanted{source.left, source.top, source.left + std::max(source.width(), 1),
                    source.top + std::max(source.height(), 1)};
  return wanted.intersected(desktopBounds());
}

bool PixelCanvas::shows(const Rect&, PaintBox&, const Rect&) {
  return false;
}

QImage& PixelCanvas::target(PaintBox& view) {
  return view.frame();
}

void PixelCanvas::present(PaintBox& view, const Rect&, const Rect&) {
  view.present();
}
