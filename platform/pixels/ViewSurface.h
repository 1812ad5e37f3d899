#pragma once

#include <QImage>
#include <cstdint>
#include <vector>

#include "platform/pixels/Rect.h"
#include "platform/pixels/Stretch.h"
#include "platform/pixels/ViewMode.h"

class ScreenSource;
class View;

// Draws into the magnifier's window: it takes the pixels a screen source hands it, in memory or
// on the display server, and enlarges them into the view. It is bound to the screen for the
// length of one tick.
class ViewSurface {
 public:
  virtual ~ViewSurface() = default;

  // Obtains what the drawing needs; throws when the display cannot be reached.
  virtual void bind() {}
  // Gives it back; one release for every bind.
  virtual void release() noexcept {}

  // Copies `source` of the screen (possibly zero-sized or reaching off the screen) into `dest`
  // of the view: each view pixel takes the colour of exactly one source pixel, in the colours
  // of `mode`, or smooth: a mix of the source pixels around it. Where the screen has no picture
  // the view shows its blank colour, whatever the mode, and where it shows these pixels already
  // nothing is drawn.
  void enlarge(ScreenSource& screen, const Rect& source, View& view, const Rect& dest,
               const ViewMode& mode = {});

 protected:
  // Whether the last drawing on `view` was `source` copied into `dest` in `mode`.
  virtual bool shows(View& view, const Rect& source, const Rect& dest, const ViewMode& mode) = 0;
  // `area` is the part of the screen the enlargement of `source` reads (readArea()).
  virtual void draw(ScreenSource& screen, const Rect& source, const Rect& area, View& view,
                    const Rect& dest, const ViewMode& mode) = 0;
};

// The desktop pixels the enlargement of `source` reads: a zero-wide or zero-high source still
// shows its first column or row.
Rect readArea(const Rect& source, const Rect& desktop);

// A surface that reads the pixels into memory and enlarges them on this side.
class PixelSurface : public ViewSurface {
 protected:
  bool shows(View& view, const Rect& source, const Rect& dest, const ViewMode& mode) override;
  void draw(ScreenSource& screen, const Rect& source, const Rect& area, View& view,
            const Rect& dest, const ViewMode& mode) final;
  // The image the enlargement goes into, and how it reaches the screen: by default the view's
  // own image, which Qt paints.
  virtual QImage& target(View& view);
  virtual void present(View& view, const Rect& source, const Rect& dest, const ViewMode& mode);

 private:
  Stretcher stretcher_;
  std::vector<std::uint32_t> recoloured_;  // the pixels read, in the mode's colours
};

// Binds a surface for one scope, so that an exception half-way still releases it.
class SurfaceBinding {
 public:
  explicit SurfaceBinding(ViewSurface& surface) : surface_(surface) { surface_.bind(); }
  ~SurfaceBinding() { surface_.release(); }
  SurfaceBinding(const SurfaceBinding&) = delete;
  SurfaceBinding& operator=(const SurfaceBinding&) = delete;

 private:
  ViewSurface& surface_;
};
