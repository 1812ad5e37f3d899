#include <xcb/render.h>
#include <xcb/shm.h>

#include <QImage>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "platform/PaintBox.h"
#include "platform/PixelCanvas.h"
#include "platform/x11/X11Internal.h"

namespace x11 {
namespace {

xcb_window_t windowOf(PaintBox& view) {
  return static_cast<xcb_window_t>(view.winId());
}

// The server clears an exposed window to its background before the program redraws it: with
// none, what was there stays until the redraw, and nothing flickers.
void keepContentsOnExpose(xcb_connection_t* c, xcb_window_t window) {
  const std::uint32_t none = XCB_BACK_PIXMAP_NONE;
  xcb_change_window_attributes(c, window, XCB_CW_BACK_PIXMAP, &none);
}

// ---- RENDER: the server stretch-copies from the root window into the view -------------------

xcb_render_fixed_t fixed(int v) {
  return static_cast<xcb_render_fixed_t>(v * 65536);
}

// A scale in 16.16, rounded up: the sampling error then only grows towards the next pixel, and
// the last view pixel still lands inside the source.
xcb_render_fixed_t scale(int source, int dest) {
  return static_cast<xcb_render_fixed_t>((static_cast<std::int64_t>(source) * 65536 + dest - 1) /
                                         dest);
}

// The whole view and not a pixel more. The server keeps rectangles in 16 bits once it has moved
// them to the screen: a "fill everything" of 32767 pixels wraps round there, its damage comes
// out empty, and a server that draws the pointer in software never hears of the fill and later
// puts back the old pixels it saved from under the pointer.
xcb_rectangle_t wholeView(QSize size) {
  return {0, 0, static_cast<std::uint16_t>(std::clamp(size.width(), 0, 0x7fff)),
          static_cast<std::uint16_t>(std::clamp(size.height(), 0, 0x7fff))};
}

xcb_render_color_t renderColour(const QColor& c) {
  return {static_cast<std::uint16_t>(c.red() * 257), static_cast<std::uint16_t>(c.green() * 257),
          static_cast<std::uint16_t>(c.blue() * 257), 0xffff};
}

// A picture of the root window that sees the windows on it, sampled nearest-neighbour.
struct RootPicture {
  xcb_connection_t* c = nullptr;
  xcb_render_picture_t id = 0;
  xcb_render_transform_t transform{};
  ~RootPicture() {
    xcb_render_free_picture(c, id);
    xcb_flush(c);
  }
};

struct PictureFormats {
  xcb_render_pictformat_t root = 0;
  std::vector<std::pair<xcb_visualid_t, xcb_render_pictformat_t>> visuals;

  xcb_render_pictformat_t forVisual(xcb_visualid_t visual) const {
    for (const auto& [v, f] : visuals)
      if (v == visual) return f;
    return 0;
  }
};

class RenderSurface final : public PaintBox::Surface {
 public:
  RenderSurface(const Display& d, xcb_window_t window, xcb_render_pictformat_t format,
                std::shared_ptr<RootPicture> root)
      : c_(d.connection), window_(window), root_(std::move(root)) {
    keepContentsOnExpose(c_, window);
    picture_ = xcb_generate_id(c_);
    xcb_render_create_picture(c_, picture_, window, format, 0, nullptr);
  }
  ~RenderSurface() override {
    xcb_render_free_picture(c_, picture_);
    xcb_flush(c_);
  }

  xcb_window_t window() const { return window_; }

  // Whether its last drawing was `source` copied into `dest`.
  bool shows(const Rect& source, const Rect& dest) const {
    return last_ == Last::Copy && source == source_ && dest == dest_;
  }

  void composite(const Rect& source, const Rect& dest) {
    last_ = Last::Copy;
    source_ = source;
    dest_ = dest;
    draw();
  }

  void fill(const QColor& colour, QSize size) override {
    const xcb_render_color_t c = renderColour(colour);
    if (last_ == Last::Fill && std::memcmp(&c, &colour_, sizeof c) == 0 && size == fillSize_)
      return;  // shown already; only an expose could spoil it, and that redraws
    last_ = Last::Fill;
    colour_ = c;
    fillSize_ = size;
    draw();
  }

  void redraw() override { draw(); }

 private:
  enum class Last { Nothing, Copy, Fill };

  void draw() {
    if (last_ == Last::Fill) {
      const xcb_rectangle_t all = wholeView(fillSize_);
      xcb_render_fill_rectangles(c_, XCB_RENDER_PICT_OP_SRC, picture_, colour_, 1, &all);
    } else if (last_ == Last::Copy && !dest_.isEmpty()) {
      const int sw = std::max(source_.width(), 1), sh = std::max(source_.height(), 1);
      xcb_render_transform_t t{fixed(1), 0, 0, 0, fixed(1), 0, 0, 0, fixed(1)};
      std::int16_t sx = 0, sy = 0;
      if (sw == dest_.width() && sh == dest_.height()) {
        // One to one: no transform at all, so the server takes its plain copy.
        sx = static_cast<std::int16_t>(source_.left);
        sy = static_cast<std::int16_t>(source_.top);
      } else {
        // The transform takes a view pixel's centre to the source: each view pixel samples one
        // source pixel, the nearest, and the rectangle maps onto the whole view. (pixman
        // samples a hair below the point: one unit of 16.16 makes up for it.)
        t = {scale(sw, dest_.width()),
             0,
             fixed(source_.left) + 1,
             0,
             scale(sh, dest_.height()),
             fixed(source_.top) + 1,
             0,
             0,
             fixed(1)};
      }
      if (std::memcmp(&t, &root_->transform, sizeof t) != 0) {
        xcb_render_set_picture_transform(c_, root_->id, t);
        root_->transform = t;
      }
      xcb_render_composite(
          c_, XCB_RENDER_PICT_OP_SRC, root_->id, XCB_RENDER_PICTURE_NONE, picture_, sx, sy, 0, 0,
          static_cast<std::int16_t>(dest_.left), static_cast<std::int16_t>(dest_.top),
          static_cast<std::uint16_t>(dest_.width()), static_cast<std::uint16_t>(dest_.height()));
    }
    xcb_flush(c_);
  }

  xcb_connection_t* c_;
  xcb_window_t window_;
  std::shared_ptr<RootPicture> root_;
  xcb_render_picture_t picture_ = 0;
  Last last_ = Last::Nothing;
  Rect source_, dest_;
  xcb_render_color_t colour_{};
  QSize fillSize_;
};

class RenderCanvas final : public ScreenCanvas {
 public:
  explicit RenderCanvas(const Display& d) : display_(d), damage_(*d.changes) {
    xcb_connection_t* c = d.connection;
    Reply<xcb_render_query_pict_formats_reply_t> reply(
        xcb_render_query_pict_formats_reply(c, xcb_render_query_pict_formats(c), nullptr));
    if (!reply) throw std::runtime_error("RENDER has no picture formats");
    for (auto s = xcb_render_query_pict_formats_screens_iterator(reply.get()); s.rem;
         xcb_render_pictscreen_next(&s))
      for (auto dp = xcb_render_pictscreen_depths_iterator(s.data); dp.rem;
           xcb_render_pictdepth_next(&dp))
        for (auto v = xcb_render_pictdepth_visuals_iterator(dp.data); v.rem;
             xcb_render_pictvisual_next(&v))
          formats_.visuals.emplace_back(v.data->visual, v.data->format);
    formats_.root = formats_.forVisual(d.screen->root_visual);
    if (!formats_.root) throw std::runtime_error("no RENDER format for the root window");

    root_ = std::make_shared<RootPicture>();
    root_->c = c;
    root_->id = xcb_generate_id(c);
    root_->transform = {fixed(1), 0, 0, 0, fixed(1), 0, 0, 0, fixed(1)};  // as RENDER starts
    const std::uint32_t includeInferiors = XCB_SUBWINDOW_MODE_INCLUDE_INFERIORS;
    xcb_render_create_picture(c, root_->id, d.screen->root, formats_.root,
                              XCB_RENDER_CP_SUBWINDOW_MODE, &includeInferiors);
    static const char nearest[] = "nearest";
    xcb_render_set_picture_filter(c, root_->id, sizeof nearest - 1, nearest, 0, nullptr);
  }

  void bind() override {
    if (xcb_connection_has_error(display_.connection))
      throw std::runtime_error("X connection lost");
  }
  void release() noexcept override {}

  void stretchCopy(const Rect& source, PaintBox& view, const Rect& dest) override {
    RenderSurface& surface = surfaceFor(view);
    if (surface.shows(source, dest)) {
      if (!damage_.touched(source)) return;  // the same picture again: nothing to send
    } else {
      damage_.forget();
    }
    surface.composite(source, dest);
  }

 private:
  RenderSurface& surfaceFor(PaintBox& view) {
    const xcb_window_t window = windowOf(view);
    auto* surface = dynamic_cast<RenderSurface*>(view.surface());
    if (surface && surface->window() == window) return *surface;
    xcb_connection_t* c = display_.connection;
    Reply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr));
    if (!attributes) throw std::runtime_error("the view has no window");
    const xcb_render_pictformat_t format = formats_.forVisual(attributes->visual);
    if (!format) throw std::runtime_error("no RENDER format for the view");
    auto created = std::make_unique<RenderSurface>(display_, window, format, root_);
    surface = created.get();
    view.setSurface(std::move(created));
    return *surface;
  }

  Display display_;
  DamageWatch damage_;
  PictureFormats formats_;
  std::shared_ptr<RootPicture> root_;
};

// ---- Client side: read the pixels, enlarge them here, put them on the view ------------------

std::uint32_t pixelOf(const QColor& c) {
  return (static_cast<std::uint32_t>(c.red()) << 16) |
         (static_cast<std::uint32_t>(c.green()) << 8) | static_cast<std::uint32_t>(c.blue());
}

// The view's picture, kept in shared memory where the server can read it (else in memory of
// ours, sent in bands).
class ImageSurface final : public PaintBox::Surface {
 public:
  ImageSurface(const Display& d, xcb_window_t window) : display_(d), window_(window) {
    keepContentsOnExpose(d.connection, window);
    gc_ = xcb_generate_id(d.connection);
    xcb_create_gc(d.connection, gc_, window, 0, nullptr);
  }
  ~ImageSurface() override {
    xcb_free_gc(display_.connection, gc_);
    segment_.reset();
  }

  xcb_window_t window() const { return window_; }

  // The image to enlarge into, of the view's size; its memory is kept while the view does
  // not grow.
  QImage& image(QSize size) {
    const auto bytes = static_cast<std::size_t>(size.width()) * size.height() * 4;
    if (image_.size() != size) {
      std::uint32_t* memory = nullptr;
      if (display_.shm) {
        try {
          if (!segment_ || segment_->bytes() < bytes) {
            segment_.reset();  // the old one goes before the larger one is made
            segment_ = std::make_unique<SharedSegment>(display_.connection, bytes);
          }
          memory = segment_->pixels();
        } catch (const std::runtime_error&) {
          display_.shm = false;
        }
      }
      if (!memory) {
        local_.resize(bytes / 4);
        memory = local_.data();
      }
      image_ = QImage(reinterpret_cast<uchar*>(memory), size.width(), size.height(),
                      size.width() * 4, QImage::Format_RGB32);
    }
    return image_;
  }

  // Whether its last drawing was `source` enlarged into `dest`.
  bool shows(const Rect& source, const Rect& dest) const {
    return put_ && !filled_ && source == source_ && dest == dest_;
  }

  void put(const Rect& source, const Rect& dest) {
    filled_ = false;
    put_ = true;
    source_ = source;
    dest_ = dest;
    draw();
  }

  void fill(const QColor& colour, QSize size) override {
    if (filled_ && colour_ == pixelOf(colour) && size == fillSize_)
      return;  // shown already; only an expose could spoil it, and that redraws
    filled_ = true;
    colour_ = pixelOf(colour);
    fillSize_ = size;
    draw();
  }

  void redraw() override { draw(); }

 private:
  void draw() {
    xcb_connection_t* c = display_.connection;
    if (filled_) {
      xcb_change_gc(c, gc_, XCB_GC_FOREGROUND, &colour_);
      const xcb_rectangle_t all = wholeView(fillSize_);
      xcb_poly_fill_rectangle(c, window_, gc_, 1, &all);
    } else if (!image_.isNull()) {
      const auto w = static_cast<std::uint16_t>(image_.width());
      const auto h = static_cast<std::uint16_t>(image_.height());
      if (display_.shm && segment_) {
        xcb_shm_put_image(c, window_, gc_, w, h, 0, 0, w, h, 0, 0, display_.screen->root_depth,
                          XCB_IMAGE_FORMAT_Z_PIXMAP, 0, segment_->id(), 0);
      } else {
        const int band = std::max(1, (256 * 1024) / (w * 4));  // under the request size
        for (int y = 0; y < h; y += band) {
          const int rows = std::min(band, h - y);
          xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, window_, gc_, w,
                        static_cast<std::uint16_t>(rows), 0, static_cast<std::int16_t>(y), 0,
                        display_.screen->root_depth, static_cast<std::uint32_t>(rows * w * 4),
                        image_.constScanLine(y));
        }
      }
    }
    xcb_flush(c);
  }

  Display display_;
  xcb_window_t window_;
  xcb_gcontext_t gc_ = 0;
  std::unique_ptr<SharedSegment> segment_;
  std::vector<std::uint32_t> local_;
  QImage image_;
  bool filled_ = false;
  bool put_ = false;
  Rect source_, dest_;
  std::uint32_t colour_ = 0;
  QSize fillSize_;
};

// Reads the root window through one shared segment kept across ticks (regrown only when the
// source grows), or with plain GetImage where the server has no MIT-SHM.
class PixelX11Canvas final : public PixelCanvas {
 public:
  PixelX11Canvas(const Display& d, PixelSource* source)
      : display_(d), damage_(*d.changes), source_(source) {}

  void bind() override {
    if (xcb_connection_has_error(display_.connection))
      throw std::runtime_error("X connection lost");
  }
  void release() noexcept override { fallback_.reset(); }

 protected:
  Rect desktopBounds() override {
    if (source_) return source_->desktopBounds();
    return {0, 0, display_.screen->width_in_pixels, display_.screen->height_in_pixels};
  }

  CapturedPixels capture(const Rect& area) override {
    if (source_) return source_->capture(area);
    xcb_connection_t* c = display_.connection;
    const auto x = static_cast<std::int16_t>(area.left), y = static_cast<std::int16_t>(area.top);
    const auto w = static_cast<std::uint16_t>(area.width());
    const auto h = static_cast<std::uint16_t>(area.height());
    if (display_.shm) {
      try {
        const std::size_t bytes = static_cast<std::size_t>(w) * h * 4;
        if (!segment_ || segment_->bytes() < bytes) {
          segment_.reset();  // the old one goes before the larger one is made
          segment_ = std::make_unique<SharedSegment>(c, bytes);
        }
        xcb_generic_error_t* e = nullptr;
        const auto reply = checked(
            xcb_shm_get_image_reply(c,
                                    xcb_shm_get_image(c, display_.screen->root, x, y, w, h, ~0u,
                                                      XCB_IMAGE_FORMAT_Z_PIXMAP, segment_->id(), 0),
                                    &e),
            &e, "reading the screen (MIT-SHM)");
        if (!reply) throw std::runtime_error("ShmGetImage failed");
        return {segment_->pixels(), area.width(), area};
      } catch (const std::runtime_error&) {
        if (segment_) throw;   // a failed read with a working segment: just this tick
        display_.shm = false;  // the server cannot share memory with us: read the slow way
      }
    }
    xcb_generic_error_t* e = nullptr;
    fallback_ = checked(
        xcb_get_image_reply(
            c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, display_.screen->root, x, y, w, h, ~0u),
            &e),
        &e, "reading the screen");
    if (!fallback_) throw std::runtime_error("GetImage failed");
    return {reinterpret_cast<const std::uint32_t*>(xcb_get_image_data(fallback_.get())),
            area.width(), area};
  }

  bool shows(const Rect& source, PaintBox& view, const Rect& dest) override {
    // The screen's damage says nothing of another source's pixels, but the source knows. A
    // redraw of the same pixels is not only work: a compositor that casts the screen sends it
    // back as a new frame, and the magnifier would wake to itself for ever.
    if (source_) return surfaceFor(view).shows(source, dest) && source_->unchanged(areaOf(source));
    if (surfaceFor(view).shows(source, dest)) return !damage_.touched(source);
    damage_.forget();
    return false;
  }

  QImage& target(PaintBox& view) override { return surfaceFor(view).image(view.deviceSize()); }

  void present(PaintBox& view, const Rect& source, const Rect& dest) override {
    surfaceFor(view).put(source, dest);
  }

 private:
  ImageSurface& surfaceFor(PaintBox& view) {
    const xcb_window_t window = windowOf(view);
    auto* surface = dynamic_cast<ImageSurface*>(view.surface());
    if (surface && surface->window() == window) return *surface;
    auto created = std::make_unique<ImageSurface>(display_, window);
    surface = created.get();
    view.setSurface(std::move(created));
    return *surface;
  }

  Display display_;
  DamageWatch damage_;
  PixelSource* source_;
  std::unique_ptr<SharedSegment> segment_;
  Reply<xcb_get_image_reply_t> fallback_;
};

}  // namespace

std::unique_ptr<ScreenCanvas> createRenderCanvas(const Display& display) {
  return std::make_unique<RenderCanvas>(display);
}

std::unique_ptr<ScreenCanvas> createPixelCanvas(const Display& display, PixelSource* source) {
  return std::make_unique<PixelX11Canvas>(display, source);
}

}  // namespace x11
