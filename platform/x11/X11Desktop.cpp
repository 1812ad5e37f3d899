#include "platform/x11/X11Desktop.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QScreen>
#include <cstdlib>
#include <stdexcept>

#include "platform/PixelCanvas.h"

namespace {

struct Disconnect {
  void operator()(xcb_connection_t* c) const { xcb_disconnect(c); }
};
using Connection = std::unique_ptr<xcb_connection_t, Disconnect>;

struct FreeReply {
  void operator()(void* p) const { std::free(p); }
};
template <class T>
using Reply = std::unique_ptr<T, FreeReply>;

// One System V segment, attached by this process and by the server.
class SharedSegment {
 public:
  SharedSegment(xcb_connection_t* c, std::size_t bytes) : connection_(c), bytes_(bytes) {
    const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (id < 0) throw std::runtime_error("shmget failed");
    address_ = shmat(id, nullptr, 0);
    if (address_ == reinterpret_cast<void*>(-1)) {
      shmctl(id, IPC_RMID, nullptr);
      throw std::runtime_error("shmat failed");
    }
    segment_ = xcb_generate_id(c);
    Reply<xcb_generic_error_t> error(
        xcb_request_check(c, xcb_shm_attach_checked(c, segment_, id, 0)));
    // Marked for removal now that both sides hold it: it goes away with the last detach,
    // even if this process dies.
    shmctl(id, IPC_RMID, nullptr);
    if (error) {
      shmdt(address_);
      throw std::runtime_error("the X server cannot attach shared memory");
    }
  }
  ~SharedSegment() {
    xcb_shm_detach(connection_, segment_);
    xcb_flush(connection_);
    shmdt(address_);
  }
  SharedSegment(const SharedSegment&) = delete;
  SharedSegment& operator=(const SharedSegment&) = delete;

  std::size_t bytes() const { return bytes_; }
  xcb_shm_seg_t id() const { return segment_; }
  const std::uint32_t* pixels() const { return static_cast<const std::uint32_t*>(address_); }

 private:
  xcb_connection_t* connection_;
  std::size_t bytes_;
  void* address_ = nullptr;
  xcb_shm_seg_t segment_ = 0;
};

// Reads the root window: through one shared segment kept across ticks (regrown only when the
// source grows), or with plain GetImage where the server has no MIT-SHM.
class X11Canvas final : public PixelCanvas {
 public:
  X11Canvas(xcb_connection_t* c, xcb_screen_t* screen, bool shm)
      : connection_(c), screen_(screen), shm_(shm) {}

  void bind() override {
    if (xcb_connection_has_error(connection_)) throw std::runtime_error("X connection lost");
  }
  void release() noexcept override { fallback_.reset(); }

 protected:
  Rect desktopBounds() override {
    return {0, 0, screen_->width_in_pixels, screen_->height_in_pixels};
  }

  CapturedPixels capture(const Rect& area) override {
    const auto bytes =
        static_cast<std::size_t>(area.width()) * static_cast<std::size_t>(area.height()) * 4;
    if (shm_) {
      try {
        if (!segment_ || segment_->bytes() < bytes)
          segment_.reset(), segment_ = std::make_unique<SharedSegment>(connection_, bytes);
        const auto cookie = xcb_shm_get_image(
            connection_, screen_->root, static_cast<std::int16_t>(area.left),
            static_cast<std::int16_t>(area.top), static_cast<std::uint16_t>(area.width()),
            static_cast<std::uint16_t>(area.height()), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP,
            segment_->id(), 0);
        Reply<xcb_shm_get_image_reply_t> reply(
            xcb_shm_get_image_reply(connection_, cookie, nullptr));
        if (!reply) throw std::runtime_error("ShmGetImage failed");
        return {segment_->pixels(), area.width(), area};
      } catch (const std::runtime_error&) {
        if (segment_) throw;  // a failed read with a working segment: just this tick
        shm_ = false;         // the server cannot share memory with us: read the slow way
      }
    }
    const auto cookie = xcb_get_image(
        connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, screen_->root,
        static_cast<std::int16_t>(area.left), static_cast<std::int16_t>(area.top),
        static_cast<std::uint16_t>(area.width()), static_cast<std::uint16_t>(area.height()), ~0u);
    fallback_.reset(xcb_get_image_reply(connection_, cookie, nullptr));
    if (!fallback_) throw std::runtime_error("GetImage failed");
    return {reinterpret_cast<const std::uint32_t*>(xcb_get_image_data(fallback_.get())),
            area.width(), area};
  }

 private:
  xcb_connection_t* connection_;
  xcb_screen_t* screen_;
  bool shm_;
  std::unique_ptr<SharedSegment> segment_;
  Reply<xcb_get_image_reply_t> fallback_;
};

class X11Desktop final : public Desktop {
 public:
  X11Desktop() {
    int screenNumber = 0;
    connection_.reset(xcb_connect(nullptr, &screenNumber));
    if (xcb_connection_has_error(connection_.get()))
      throw std::runtime_error("cannot open the X display");
    auto it = xcb_setup_roots_iterator(xcb_get_setup(connection_.get()));
    for (int i = 0; i < screenNumber && it.rem; ++i) xcb_screen_next(&it);
    screen_ = it.data;
    if (!screen_ || pixelBits(screen_->root_depth) != 32)
      throw std::runtime_error("the X screen needs 24- or 32-bit colour");
    const auto* shm = xcb_get_extension_data(connection_.get(), &xcb_shm_id);
    shm_ = shm && shm->present;
  }

  QPoint pointer() override {
    Reply<xcb_query_pointer_reply_t> reply(xcb_query_pointer_reply(
        connection_.get(), xcb_query_pointer(connection_.get(), screen_->root), nullptr));
    if (!reply) throw std::runtime_error("QueryPointer failed");
    return {reply->root_x, reply->root_y};
  }

  const std::vector<Rect>& monitors() override {
    auto& result = monitors_;  // refilled in place: no allocation once it has its size
    result.clear();
    auto add = [&result](const QScreen* s) {
      const QRect g = s->geometry();
      result.push_back({g.left(), g.top(), g.left() + g.width(), g.top() + g.height()});
    };
    if (const QScreen* primary = QGuiApplication::primaryScreen()) add(primary);
    for (const QScreen* s : QGuiApplication::screens())
      if (s != QGuiApplication::primaryScreen()) add(s);
    if (result.empty()) result.push_back({0, 0, screen_->width_in_pixels, screen_->height_in_pixels});
    return result;
  }

  std::unique_ptr<ScreenCanvas> createCanvas() override {
    return std::make_unique<X11Canvas>(connection_.get(), screen_, shm_);
  }

 private:
  int pixelBits(int depth) const {
    auto it = xcb_setup_pixmap_formats_iterator(xcb_get_setup(connection_.get()));
    for (; it.rem; xcb_format_next(&it))
      if (it.data->depth == depth) return it.data->bits_per_pixel;
    return 0;
  }

  Connection connection_;
  xcb_screen_t* screen_ = nullptr;
  bool shm_ = false;
  std::vector<Rect> monitors_;
};

}  // namespace

std::unique_ptr<Desktop> createX11Desktop() { return std::make_unique<X11Desktop>(); }
