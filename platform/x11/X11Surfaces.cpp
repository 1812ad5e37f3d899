#include <xcb/render.h>
#include <xcb/shm.h>

#include <QImage>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "platform/pixels/ScreenSource.h"
#include "platform/pixels/View.h"
#include "platform/pixels/ViewSurface.h"
#include "platform/x11/X11Internal.h"

namespace x11 {
namespace {

// The server clears an exposed window to its background before the program redraws it: with
// none, what was there stays until the redraw, and nothing flickers.
void keepContentsOnExpose(xcb_connection_t* c, xcb_window_t window) {
  const std::uint32_t none = XCB_BACK_PIXMAP_NONE;
  xcb_change_window_attributes(c, window, XCB_CW_BACK_PIXMAP, &none);
}

void requireConnection(xcb_connection_t* c) {
  if (xcb_connection_has_error(c)) throw std::runtime_error("X connection lost");
}

// The painter of kind `P` that draws on the view's window, or a new one `make` makes for the
// window, which the view then holds: a view whose native window was made anew gets a new one.
template <class P, class Make>
P& painterOn(View& view, xcb_connection_t* c, Make make) {
  const auto window = static_cast<xcb_window_t>(view.nativeWindow());
  View::Painter* held = view.painter();
  if (held && held->kind() == &P::Kind) {
    auto* painter = static_cast<P*>(held);
    if (painter->drawsOn(c, window)) return *painter;
  }
  std::unique_ptr<P> created = make(window);
  P& painter = *created;
  view.setPainter(std::move(created));
  return painter;
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

// How a picture is sampled: the transform and the filter last set on it.
struct Sampling {
  xcb_render_transform_t transform{fixed(1), 0, 0, 0, fixed(1), 0, 0, 0, fixed(1)};  // at first
  bool smooth = false;
};

// Gives `picture`, sampled as `current` says, the sampling `wanted`: only what differs.
void resample(xcb_connection_t* c, xcb_render_picture_t picture, Sampling& current,
              const Sampling& wanted) {
  if (std::memcmp(&wanted.transform, &current.transform, sizeof wanted.transform) != 0)
    xcb_render_set_picture_transform(c, picture, wanted.transform);
  if (wanted.smooth != current.smooth) {
    // The edge repeats for the bilinear filter, rather than mixing in the nothing beyond it.
    static const char nearest[] = "nearest", bilinear[] = "bilinear";
    const char* filter = wanted.smooth ? bilinear : nearest;
    xcb_render_set_picture_filter(c, picture, static_cast<std::uint16_t>(std::strlen(filter)),
                                  filter, 0, nullptr);
    const std::uint32_t repeat = wanted.smooth ? XCB_RENDER_REPEAT_PAD : XCB_RENDER_REPEAT_NONE;
    xcb_render_change_picture(c, picture, XCB_RENDER_CP_REPEAT, &repeat);
  }
  current = wanted;
}

// A picture of the screen (the root window) that sees the windows on it, sampled
// nearest-neighbour, or bilinear for a smooth view.
struct RootPicture {
  xcb_connection_t* c = nullptr;
  xcb_drawable_t drawable = 0;
  xcb_render_picture_t id = 0;
  xcb_render_pictformat_t format = 0;
  Sampling sampling;
  ~RootPicture() {
    xcb_render_free_picture(c, id);
    xcb_flush(c);
  }
};

struct PictureFormats {
  std::vector<std::pair<xcb_visualid_t, xcb_render_pictformat_t>> visuals;
  xcb_render_pictformat_t alpha = 0;  // a8

  xcb_render_pictformat_t forVisual(xcb_visualid_t visual) const {
    for (const auto& [v, f] : visuals)
      if (v == visual) return f;
    return 0;
  }
};

// Pixels in memory, `bytesPerPixel` each and rows `stride` bytes apart, put on a drawable of
// `depth`, in bands under the request size.
void putPixels(xcb_connection_t* c, xcb_drawable_t drawable, xcb_gcontext_t gc, std::uint8_t depth,
               QPoint at, QSize size, const std::uint8_t* pixels, qsizetype stride,
               int bytesPerPixel) {
  const int w = size.width();
  const int row = (w * bytesPerPixel + 3) & ~3;  // the server's rows start on 32 bits
  const int band = std::max(1, (256 * 1024) / row);
  std::vector<std::uint8_t> rows;
  for (int y = 0; y < size.height(); y += band) {
    const int n = std::min(band, size.height() - y);
    const std::uint8_t* from = pixels + static_cast<std::ptrdiff_t>(y) * stride;
    if (stride != row) {  // the rows made contiguous
      rows.resize(static_cast<std::size_t>(n) * row);
      for (int r = 0; r < n; ++r)
        std::memcpy(rows.data() + static_cast<std::ptrdiff_t>(r) * row,
                    from + static_cast<std::ptrdiff_t>(r) * stride,
                    static_cast<std::size_t>(w) * bytesPerPixel);
      from = rows.data();
    }
    xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, gc, static_cast<std::uint16_t>(w),
                  static_cast<std::uint16_t>(n), static_cast<std::int16_t>(at.x()),
                  static_cast<std::int16_t>(at.y() + y), 0, depth,
                  static_cast<std::uint32_t>(n * row), from);
  }
}

// A picture made on this side, of the view's size, kept in shared memory where the server can
// read it (else in memory of ours, sent in bands); its memory is kept while the view does not
// grow.
class SharedImage {
 public:
  // `format`: QImage::Format_RGB32 for the screen's pixels, or Format_Grayscale8 for an alpha
  // mask of a byte a pixel.
  SharedImage(xcb_connection_t* c, bool shm, QImage::Format format = QImage::Format_RGB32)
      : c_(c), shm_(shm), format_(format) {}

  QImage& image(QSize size) {
    const int bytesPerPixel = format_ == QImage::Format_Grayscale8 ? 1 : 4;
    // Rows start on 32 bits, as both QImage and the server have them.
    const qsizetype row = (static_cast<qsizetype>(size.width()) * bytesPerPixel + 3) & ~3;
    const auto bytes = static_cast<std::size_t>(row) * size.height();
    if (image_.size() != size) {
      uchar* memory = nullptr;
      if (shm_) {
        try {
          growSegment(segment_, c_, bytes);
          memory = reinterpret_cast<uchar*>(segment_->pixels());
        } catch (const std::runtime_error&) {
          shm_ = false;
        }
      }
      if (!memory) {
        local_.resize(bytes);
        memory = local_.data();
      }
      image_ = QImage(memory, size.width(), size.height(), row, format_);
    }
    return image_;
  }

  const QImage& image() const { return image_; }

  // `part` of the image put at the same place of `drawable`, of `depth`.
  void put(xcb_drawable_t drawable, xcb_gcontext_t gc, const Rect& part, std::uint8_t depth) const {
    const Rect r = part.intersected({0, 0, image_.width(), image_.height()});
    if (r.isEmpty()) return;
    if (shm_ && segment_) {
      xcb_shm_put_image(
          c_, drawable, gc, static_cast<std::uint16_t>(image_.width()),
          static_cast<std::uint16_t>(image_.height()), static_cast<std::uint16_t>(r.left),
          static_cast<std::uint16_t>(r.top), static_cast<std::uint16_t>(r.width()),
          static_cast<std::uint16_t>(r.height()), static_cast<std::int16_t>(r.left),
          static_cast<std::int16_t>(r.top), depth, XCB_IMAGE_FORMAT_Z_PIXMAP, 0, segment_->id(), 0);
      return;
    }
    const int bytesPerPixel = image_.depth() / 8;
    putPixels(c_, drawable, gc, depth, {r.left, r.top}, {r.width(), r.height()},
              image_.constScanLine(r.top) + static_cast<std::ptrdiff_t>(r.left) * bytesPerPixel,
              image_.bytesPerLine(), bytesPerPixel);
  }

 private:
  xcb_connection_t* c_;
  bool shm_;  // through shared memory, while it works
  QImage::Format format_;
  std::unique_ptr<SharedSegment> segment_;
  std::vector<uchar> local_;
  QImage image_;
};

// A pixmap and a picture of it, for a drawing made whole off the screen: the source in the view's
// colours, or the view for the clipboard.
struct Offscreen {
  xcb_connection_t* c = nullptr;
  xcb_pixmap_t pixmap = 0;
  xcb_render_picture_t picture = 0;
  xcb_gcontext_t copy = 0;    // copies from the screen with the windows on it, puts, fills black
  xcb_gcontext_t invert = 0;  // fills flip every bit of what they cover
  QSize size;
  Sampling sampling;
  Offscreen(xcb_connection_t* connection, xcb_drawable_t on, std::uint8_t depth,
            xcb_render_pictformat_t format, QSize s)
      : c(connection), size(s) {
    pixmap = xcb_generate_id(c);
    xcb_create_pixmap(c, depth, pixmap, on, static_cast<std::uint16_t>(s.width()),
                      static_cast<std::uint16_t>(s.height()));
    picture = xcb_generate_id(c);
    xcb_render_create_picture(c, picture, pixmap, format, 0, nullptr);
    copy = xcb_generate_id(c);
    const std::uint32_t copying[] = {XCB_SUBWINDOW_MODE_INCLUDE_INFERIORS, 0};
    xcb_create_gc(c, copy, pixmap, XCB_GC_SUBWINDOW_MODE | XCB_GC_GRAPHICS_EXPOSURES, copying);
    invert = xcb_generate_id(c);
    const std::uint32_t function = XCB_GX_INVERT;
    xcb_create_gc(c, invert, pixmap, XCB_GC_FUNCTION, &function);
  }
  ~Offscreen() {
    xcb_free_gc(c, invert);
    xcb_free_gc(c, copy);
    xcb_render_free_picture(c, picture);
    xcb_free_pixmap(c, pixmap);
  }
  Offscreen(const Offscreen&) = delete;
  Offscreen& operator=(const Offscreen&) = delete;
};

// Makes `held` a new offscreen when it is not yet one of `size`.
Offscreen& offscreenOf(std::unique_ptr<Offscreen>& held, xcb_connection_t* c, xcb_drawable_t on,
                       std::uint8_t depth, xcb_render_pictformat_t format, QSize size) {
  if (!held || held->size != size) {
    held.reset();
    held = std::make_unique<Offscreen>(c, on, depth, format, size);
  }
  return *held;
}

// Draws on the view's window with RENDER. In other colours than the screen's, the source is
// first made in them off the screen (a view's worth of pixels fewer at zoom Z), and enlarged
// from there; or a view in greys is made whole on this side, a byte a pixel, and the server
// makes its pixels.
class RenderPainter final : public View::Painter {
 public:
  RenderPainter(const Display& d, xcb_window_t window, xcb_render_pictformat_t format,
                xcb_render_pictformat_t alpha, std::shared_ptr<RootPicture> root)
      : c_(d.connection),
        window_(window),
        format_(format),
        alpha_(alpha),
        rootDepth_(d.screen->root_depth),
        root_(std::move(root)),
        greys_(d.connection, d.shm),
        made_(d.connection, d.shm, QImage::Format_Grayscale8) {
    keepContentsOnExpose(c_, window);
    picture_ = xcb_generate_id(c_);
    xcb_render_create_picture(c_, picture_, window, format, 0, nullptr);
    white_ = xcb_generate_id(c_);
    xcb_render_create_solid_fill(c_, white_, {0xffff, 0xffff, 0xffff, 0xffff});
    Reply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(c_, xcb_get_geometry(c_, window), nullptr));
    depth_ = geometry ? geometry->depth : rootDepth_;
  }
  ~RenderPainter() override {
    recoloured_.reset();
    view_.reset();
    greyMask_.reset();
    xcb_render_free_picture(c_, white_);
    xcb_render_free_picture(c_, picture_);
    xcb_flush(c_);
  }

  static constexpr char Kind = 'R';
  const void* kind() const override { return &Kind; }
  // Whether it draws on `window` of the connection `c`.
  bool drawsOn(xcb_connection_t* c, xcb_window_t window) const {
    return c == c_ && window == window_;
  }

  // Whether its last drawing was `source` copied into `dest` in `mode`.
  bool shows(const Rect& source, const Rect& dest, const ViewMode& mode) const {
    return (last_ == Last::Copy || last_ == Last::Made) && source == source_ && dest == dest_ &&
           mode == mode_;
  }

  // `greys`: the source's pixels in the mode's greys, which the server cannot make.
  void composite(std::shared_ptr<RootPicture> root, const Rect& source, const Rect& dest,
                 const ViewMode& mode, const CapturedPixels* greys) {
    root_ = std::move(root);
    last_ = Last::Copy;
    shown_ = Last::Copy;
    source_ = source;
    dest_ = dest;
    mode_ = mode;
    if (greys) put(*greys);
    draw();
  }

  // The image a view in greys made on this side goes into, of the view's size and a byte a pixel.
  QImage& image(QSize size) { return made_.image(size); }

  // Shows `dest` of the image, made of `source` in `mode`.
  void present(const Rect& source, const Rect& dest, const ViewMode& mode) {
    last_ = Last::Made;
    shown_ = Last::Made;
    source_ = source;
    dest_ = dest;
    mode_ = mode;
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

  // The last view made here, or the last copy made again, off the screen, and read back.
  QImage picture() override {
    if (shown_ == Last::Nothing || dest_.isEmpty()) return {};
    const int w = dest_.width(), h = dest_.height();
    if (shown_ == Last::Made)
      return made_.image().copy(dest_.left, dest_.top, w, h).convertToFormat(QImage::Format_RGB32);
    Offscreen& view = offscreenOf(view_, c_, window_, depth_, format_, {w, h});
    render(view.picture, 0, 0);
    Reply<xcb_get_image_reply_t> image(xcb_get_image_reply(
        c_,
        xcb_get_image(c_, XCB_IMAGE_FORMAT_Z_PIXMAP, view.pixmap, 0, 0,
                      static_cast<std::uint16_t>(w), static_cast<std::uint16_t>(h), ~0u),
        nullptr));
    if (!image || xcb_get_image_data_length(image.get()) != w * h * 4)
      throw std::runtime_error("the view's picture cannot be read back");
    QImage out(w, h, QImage::Format_RGB32);
    const auto* in = reinterpret_cast<const std::uint32_t*>(xcb_get_image_data(image.get()));
    for (int y = 0; y < h; ++y) {
      auto* line = reinterpret_cast<std::uint32_t*>(out.scanLine(y));
      for (int x = 0; x < w; ++x) line[x] = in[y * w + x] | 0xff000000u;
    }
    return out;
  }

 private:
  // A copy the server makes, a view made on this side, or a fill.
  enum class Last { Nothing, Copy, Made, Fill };

  QSize sourceSize() const { return {std::max(source_.width(), 1), std::max(source_.height(), 1)}; }

  // The source in the view's colours, off the screen, as wide and high as the source.
  Offscreen& recoloured() {
    return offscreenOf(recoloured_, c_, root_->drawable, rootDepth_, root_->format, sourceSize());
  }

  void put(const CapturedPixels& pixels) {
    Offscreen& s = recoloured();
    const Rect& a = pixels.area;
    if (a.width() != s.size.width() || a.height() != s.size.height()) {
      const xcb_rectangle_t all = wholeView(s.size);  // black where there is no screen
      xcb_poly_fill_rectangle(c_, s.pixmap, s.copy, 1, &all);
    }
    if (a.isEmpty()) return;
    // Through shared memory where it works, as the screen's pixels came: a socket's copy costs
    // more.
    QImage& image = greys_.image(s.size);
    const Rect at{a.left - source_.left, a.top - source_.top, a.right - source_.left,
                  a.bottom - source_.top};
    for (int y = 0; y < a.height(); ++y)
      std::memcpy(reinterpret_cast<std::uint32_t*>(image.scanLine(at.top + y)) + at.left,
                  pixels.bits + static_cast<std::ptrdiff_t>(y) * pixels.stride,
                  static_cast<std::size_t>(a.width()) * 4);
    greys_.put(s.pixmap, s.copy, at, rootDepth_);
  }

  void draw() {
    if (last_ == Last::Fill) {
      const xcb_rectangle_t all = wholeView(fillSize_);
      xcb_render_fill_rectangles(c_, XCB_RENDER_PICT_OP_SRC, picture_, colour_, 1, &all);
    } else if (last_ == Last::Copy && !dest_.isEmpty()) {
      if (mode_.colours == Colours::Inverted) {
        // 255 - c in each channel, the difference with white, is every bit of the pixel
        // flipped: the core protocol's inverting fill does it as fast as a copy, where RENDER's
        // difference takes pixman's general path, at four times the whole tick (measured).
        Offscreen& s = recoloured();
        xcb_copy_area(c_, root_->drawable, s.pixmap, s.copy,
                      static_cast<std::int16_t>(source_.left),
                      static_cast<std::int16_t>(source_.top), 0, 0,
                      static_cast<std::uint16_t>(s.size.width()),
                      static_cast<std::uint16_t>(s.size.height()));
        const xcb_rectangle_t all = wholeView(s.size);
        xcb_poly_fill_rectangle(c_, s.pixmap, s.invert, 1, &all);
      }
      render(picture_, dest_.left, dest_.top);
    } else if (last_ == Last::Made && !dest_.isEmpty()) {
      // The greys as the alpha of white: each pixel's three channels come out as its byte.
      // Putting a quarter of the bytes and having the server spread them costs less than
      // writing every channel here (measured).
      Offscreen& mask = offscreenOf(greyMask_, c_, window_, 8, alpha_, made_.image().size());
      made_.put(mask.pixmap, mask.copy, dest_, 8);
      xcb_render_composite(
          c_, XCB_RENDER_PICT_OP_SRC, white_, mask.picture, picture_, 0, 0,
          static_cast<std::int16_t>(dest_.left), static_cast<std::int16_t>(dest_.top),
          static_cast<std::int16_t>(dest_.left), static_cast<std::int16_t>(dest_.top),
          static_cast<std::uint16_t>(dest_.width()), static_cast<std::uint16_t>(dest_.height()));
    }
    xcb_flush(c_);
  }

  // The copy of `source_` in `mode_`, into `target` at (x, y): from the screen itself in its
  // own colours, else from the source made in the view's.
  void render(xcb_render_picture_t target, int x, int y) {
    const bool screen = mode_.colours == Colours::Normal || !recoloured_;
    const xcb_render_picture_t from = screen ? root_->id : recoloured_->picture;
    Sampling& sampled = screen ? root_->sampling : recoloured_->sampling;
    const int left = screen ? source_.left : 0, top = screen ? source_.top : 0;
    const QSize s = sourceSize();
    Sampling wanted{{fixed(1), 0, 0, 0, fixed(1), 0, 0, 0, fixed(1)}, mode_.smooth};
    std::int16_t sx = 0, sy = 0;
    if (s.width() == dest_.width() && s.height() == dest_.height()) {
      // One to one: no transform at all, so the server takes its plain copy.
      sx = static_cast<std::int16_t>(left);
      sy = static_cast<std::int16_t>(top);
    } else {
      // The transform takes a view pixel's centre to the source: each view pixel samples one
      // source pixel, the nearest, and the rectangle maps onto the whole view. (pixman
      // samples a hair below the point: one unit of 16.16 makes up for it; the bilinear
      // filter mixes the pixels around the point itself, and needs none.)
      const int hair = mode_.smooth ? 0 : 1;
      wanted.transform = {scale(s.width(), dest_.width()),
                          0,
                          fixed(left) + hair,
                          0,
                          scale(s.height(), dest_.height()),
                          fixed(top) + hair,
                          0,
                          0,
                          fixed(1)};
    }
    resample(c_, from, sampled, wanted);
    xcb_render_composite(c_, XCB_RENDER_PICT_OP_SRC, from, XCB_RENDER_PICTURE_NONE, target, sx, sy,
                         0, 0, static_cast<std::int16_t>(x), static_cast<std::int16_t>(y),
                         static_cast<std::uint16_t>(dest_.width()),
                         static_cast<std::uint16_t>(dest_.height()));
  }

  xcb_connection_t* c_;
  xcb_window_t window_;
  xcb_render_pictformat_t format_;
  xcb_render_pictformat_t alpha_;  // a byte of alpha a pixel
  std::uint8_t rootDepth_;
  std::uint8_t depth_ = 0;
  std::shared_ptr<RootPicture> root_;
  xcb_render_picture_t picture_ = 0;
  std::unique_ptr<Offscreen> recoloured_;
  std::unique_ptr<Offscreen> view_;      // for picture()
  std::unique_ptr<Offscreen> greyMask_;  // the view made on this side, on the server
  SharedImage greys_;                    // the source's pixels in the view's greys
  SharedImage made_;                     // the view in greys made on this side
  xcb_render_picture_t white_ = 0;
  Last last_ = Last::Nothing;
  Last shown_ = Last::Nothing;  // the last view drawn, a copy or made here, which picture() gives
  Rect source_, dest_;
  ViewMode mode_;
  xcb_render_color_t colour_{};
  QSize fillSize_;
};

// Enlarges on the server with RENDER, from the pixels the server holds: none cross to the
// program but the source's, for the greys the server cannot make.
class RenderSurface final : public ViewSurface {
 public:
  explicit RenderSurface(std::shared_ptr<X11Display> owner)
      : owner_(std::move(owner)), display_(owner_->facts()) {
    xcb_connection_t* c = display_.connection;
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
    for (auto f = xcb_render_query_pict_formats_formats_iterator(reply.get()); f.rem;
         xcb_render_pictforminfo_next(&f)) {
      const xcb_render_directformat_t& d = f.data->direct;
      if (f.data->type == XCB_RENDER_PICT_TYPE_DIRECT && f.data->depth == 8 &&
          d.alpha_mask == 0xff && d.red_mask == 0 && d.green_mask == 0 && d.blue_mask == 0)
        formats_.alpha = f.data->id;
    }
    if (!formats_.alpha) throw std::runtime_error("RENDER has no 8-bit alpha format");
  }

  void bind() override { requireConnection(display_.connection); }

 protected:
  bool shows(View& view, const Rect& source, const Rect& dest, const ViewMode& mode) override {
    return painterFor(view).shows(source, dest, mode);
  }

  void draw(ScreenSource& screen, const Rect& source, const Rect& area, View& view,
            const Rect& dest, const ViewMode& mode) override {
    const ServerPixels pixels = screen.onServer();
    if (pixels.server != owner_.get() || !pixels.drawable)
      throw std::runtime_error("the screen's pixels are not on this X server");
    std::shared_ptr<RootPicture> root = pictureOf(pixels.drawable);
    if (!greys(mode.colours)) {
      painterFor(view).composite(std::move(root), source, dest, mode, nullptr);
      return;
    }
    // Only the source's pixels cross to the program and back, made grey on the way.
    const CapturedPixels greyed =
        recoloured(area.isEmpty() ? CapturedPixels{nullptr, 0, area} : screen.capture(area),
                   mode.colours, greys_);
    RenderPainter& painter = painterFor(view);
    if (mode.smooth) {
      // Mixing them here costs less than the server's bilinear pass over them (measured).
      stretcher_.smoothGreys(greyed, source, painter.image(view.deviceSize()), dest);
      painter.present(source, dest, mode);
      return;
    }
    painter.composite(std::move(root), source, dest, mode, &greyed);
  }

 private:
  xcb_render_pictformat_t formatOf(xcb_window_t window, const char* what) {
    xcb_connection_t* c = display_.connection;
    Reply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr));
    if (!attributes) throw std::runtime_error(std::string(what) + " has no window");
    const xcb_render_pictformat_t format = formats_.forVisual(attributes->visual);
    if (!format) throw std::runtime_error(std::string("no RENDER format for ") + what);
    return format;
  }

  // A picture of the screen's drawable that sees the windows on it, sampled nearest-neighbour;
  // made once.
  std::shared_ptr<RootPicture> pictureOf(xcb_drawable_t drawable) {
    if (root_ && root_->drawable == drawable) return root_;
    xcb_connection_t* c = display_.connection;
    auto root = std::make_shared<RootPicture>();
    root->c = c;
    root->drawable = drawable;
    root->id = xcb_generate_id(c);
    root->format = formatOf(drawable, "the screen");
    const std::uint32_t includeInferiors = XCB_SUBWINDOW_MODE_INCLUDE_INFERIORS;
    xcb_render_create_picture(c, root->id, drawable, root->format, XCB_RENDER_CP_SUBWINDOW_MODE,
                              &includeInferiors);
    static const char nearest[] = "nearest";
    xcb_render_set_picture_filter(c, root->id, sizeof nearest - 1, nearest, 0, nullptr);
    root_ = std::move(root);
    return root_;
  }

  RenderPainter& painterFor(View& view) {
    return painterOn<RenderPainter>(view, display_.connection, [this](xcb_window_t window) {
      return std::make_unique<RenderPainter>(display_, window, formatOf(window, "the view"),
                                             formats_.alpha, root_);
    });
  }

  std::shared_ptr<X11Display> owner_;
  Display display_;
  PictureFormats formats_;
  std::shared_ptr<RootPicture> root_;
  std::vector<std::uint32_t> greys_;
  Stretcher stretcher_;
};

// ---- Client side: pixels in memory, enlarged here and put on the view ----------------------

std::uint32_t pixelOf(const QColor& c) {
  return (static_cast<std::uint32_t>(c.red()) << 16) |
         (static_cast<std::uint32_t>(c.green()) << 8) | static_cast<std::uint32_t>(c.blue());
}

// The view's picture, made on this side and put on the view.
class ImagePainter final : public View::Painter {
 public:
  ImagePainter(const Display& d, xcb_window_t window)
      : c_(d.connection),
        window_(window),
        depth_(d.screen->root_depth),
        image_(d.connection, d.shm) {
    keepContentsOnExpose(c_, window);
    gc_ = xcb_generate_id(c_);
    xcb_create_gc(c_, gc_, window, 0, nullptr);
  }
  ~ImagePainter() override { xcb_free_gc(c_, gc_); }

  static constexpr char Kind = 'I';
  const void* kind() const override { return &Kind; }
  // Whether it draws on `window` of the connection `c`.
  bool drawsOn(xcb_connection_t* c, xcb_window_t window) const {
    return c == c_ && window == window_;
  }

  // The image to enlarge into, of the view's size.
  QImage& image(QSize size) { return image_.image(size); }

  // Whether its last drawing was `source` enlarged into `dest` in `mode`.
  bool shows(const Rect& source, const Rect& dest, const ViewMode& mode) const {
    return put_ && !filled_ && source == source_ && dest == dest_ && mode == mode_;
  }

  void put(const Rect& source, const Rect& dest, const ViewMode& mode) {
    filled_ = false;
    put_ = true;
    source_ = source;
    dest_ = dest;
    mode_ = mode;
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

  // A fill leaves the image as it was.
  QImage picture() override { return put_ ? image_.image().copy() : QImage(); }

 private:
  void draw() {
    if (filled_) {
      xcb_change_gc(c_, gc_, XCB_GC_FOREGROUND, &colour_);
      const xcb_rectangle_t all = wholeView(fillSize_);
      xcb_poly_fill_rectangle(c_, window_, gc_, 1, &all);
    } else {
      image_.put(window_, gc_, {0, 0, image_.image().width(), image_.image().height()}, depth_);
    }
    xcb_flush(c_);
  }

  xcb_connection_t* c_;
  xcb_window_t window_;
  std::uint8_t depth_;
  xcb_gcontext_t gc_ = 0;
  SharedImage image_;
  bool filled_ = false;
  bool put_ = false;
  Rect source_, dest_;
  ViewMode mode_;
  std::uint32_t colour_ = 0;
  QSize fillSize_;
};

// Enlarges pixels in memory on this side, and puts them on the view through shared memory
// where the server has it.
class ImageSurface final : public PixelSurface {
 public:
  explicit ImageSurface(std::shared_ptr<X11Display> owner)
      : owner_(std::move(owner)), display_(owner_->facts()) {}

  void bind() override { requireConnection(display_.connection); }

 protected:
  bool shows(View& view, const Rect& source, const Rect& dest, const ViewMode& mode) override {
    return painterFor(view).shows(source, dest, mode);
  }

  QImage& target(View& view) override { return painterFor(view).image(view.deviceSize()); }

  void present(View& view, const Rect& source, const Rect& dest, const ViewMode& mode) override {
    painterFor(view).put(source, dest, mode);
  }

 private:
  ImagePainter& painterFor(View& view) {
    return painterOn<ImagePainter>(view, display_.connection, [this](xcb_window_t window) {
      return std::make_unique<ImagePainter>(display_, window);
    });
  }

  std::shared_ptr<X11Display> owner_;
  Display display_;
};

}  // namespace
}  // namespace x11

std::unique_ptr<ViewSurface> createX11Surface(std::shared_ptr<X11Display> display,
                                              Drawing drawing) {
  if (drawing == Drawing::Fastest && display->facts().render)
    return std::make_unique<x11::RenderSurface>(std::move(display));
  return std::make_unique<x11::ImageSurface>(std::move(display));
}
