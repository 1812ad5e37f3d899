#include "platform/pixels/ViewSurface.h"

#include <algorithm>

#include "platform/pixels/ScreenSource.h"
#include "platform/pixels/View.h"

void ViewSurface::enlarge(ScreenSource& screen, const Rect& source, View& view, const Rect& dest,
                          const ViewMode& mode) {
  if (!screen.pictured(source)) {
    view.fill(view.blank());
    return;
  }
  // A redraw of the same pixels is not only work: a compositor that casts the screen sends it
  // back as a new frame, and the magnifier would wake to itself for ever.
  const Rect area = readArea(source, screen.desktopBounds());
  if (shows(view, source, dest, mode)) {
    if (screen.unchanged(area)) return;
  } else {
    screen.forgetChanges();
  }
  draw(screen, source, area, view, dest, mode);
}

Rect readArea(const Rect& source, const Rect& desktop) {
  const Rect wanted{source.left, source.top, source.left + std::max(source.width(), 1),
                    source.top + std::max(source.height(), 1)};
  return wanted.intersected(desktop);
}

bool PixelSurface::shows(View&, const Rect&, const Rect&, const ViewMode&) {
  return false;
}

void PixelSurface::draw(ScreenSource& screen, const Rect& source, const Rect& area, View& view,
                        const Rect& dest, const ViewMode& mode) {
  // The colours change before the enlargement: at zoom Z there are Z x Z times fewer pixels.
  const CapturedPixels pixels =
      recoloured(area.isEmpty() ? CapturedPixels{nullptr, 0, area} : screen.capture(area),
                 mode.colours, recoloured_);
  if (mode.smooth && greys(mode.colours))
    stretcher_.smoothGreys(pixels, source, target(view), dest);
  else if (mode.smooth)
    stretcher_.smooth(pixels, source, target(view), dest);
  else
    stretcher_.copy(pixels, source, target(view), dest);
  present(view, source, dest, mode);
}

QImage& PixelSurface::target(View& view) {
  return view.frame();
}

void PixelSurface::present(View& view, const Rect&, const Rect&, const ViewMode&) {
  view.present();
}
