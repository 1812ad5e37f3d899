#include <xcb/shm.h>

#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <optional>
#include <stdexcept>
#include <utility>

#include "platform/pixels/DeviceScale.h"
#include "platform/pixels/ScreenSource.h"
#include "platform/x11/X11Internal.h"

namespace {

class X11Source final : public ScreenSource {
 public:
  X11Source(std::shared_ptr<X11Display> display, bool followChanges)
      : owner_(std::move(display)),
        display_(owner_->facts()),
        changes_(display_.connection, display_.screen, followChanges),
        damage_(changes_) {
    xcb_connection_t* c = display_.connection;
    notifier_ =
        std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(c), QSocketNotifier::Read);
    notifier_->setEnabled(false);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
      if (changes_.takeActivity()) fire();
    });
    due_.setSingleShot(true);
    due_.setInterval(x11::ChangeWatch::PointerSafetyInterval);
    QObject::connect(&due_, &QTimer::timeout, [this] {
      // A program may have moved the pointer, which no event tells: look, and wake the
      // magnifier only when something did change.
      try {
        queryPointer(x11::ChangeWatch::Clock::now());
        if (!changes_.takeActivity()) {
          due_.start();
          return;
        }
      } catch (const std::runtime_error&) {
      }
      fire();
    });
  }

  QPoint pointer() override {
    const auto now = x11::ChangeWatch::Clock::now();
    changes_.drain();
    readAhead_ = {};
    const std::optional<Rect> around = std::exchange(lastRead_, std::nullopt);
    if (!changes_.pointerMayHaveMoved(now)) return pointer_;  // no round trip for a still one
    return queryPointer(now, around);
  }

  bool reportsChanges() override { return changes_.watches(); }

  bool changed() override { return changes_.takeActivity(); }

  void watch(std::function<void()> wake) override {
    wake_ = std::move(wake);
    if (!wake_) {
      notifier_->setEnabled(false);
      due_.stop();
      return;
    }
    if (changes_.takeActivity()) {  // came while the last tick ran
      QTimer::singleShot(0, &due_, [this] { fire(); });
      return;
    }
    // Events come only while the desktop changes: watching costs nothing until then.
    notifier_->setEnabled(true);
    due_.start();
  }

  const std::vector<Rect>& monitors() override {
    screensInDevicePixels(monitors_);
    if (monitors_.empty())
      monitors_.push_back(
          {0, 0, display_.screen->width_in_pixels, display_.screen->height_in_pixels});
    return monitors_;
  }

  // The root window grows and shrinks with the monitors (RandR), while the connection's set-up
  // keeps the size it had at the start: the bounds are those of the monitors Qt follows.
  Rect desktopBounds() override {
    const std::vector<Rect>& all = monitors();
    Rect bounds = all.front();
    for (const Rect& m : all)
      bounds = {std::min(bounds.left, m.left), std::min(bounds.top, m.top),
                std::max(bounds.right, m.right), std::max(bounds.bottom, m.bottom)};
    return bounds;
  }

  // Through one shared segment kept across ticks (regrown only when the area grows), or with
  // plain GetImage where the server has no MIT-SHM.
  CapturedPixels capture(const Rect& area) override {
    xcb_connection_t* c = display_.connection;
    if (xcb_connection_has_error(c)) throw std::runtime_error("X connection lost");
    lastRead_ = area;
    const Rect ahead = std::exchange(readAhead_, Rect{});
    if (!ahead.isEmpty() && ahead.intersected(area) == area)
      return {segment_->pixels() +
                  static_cast<std::ptrdiff_t>(area.top - ahead.top) * ahead.width() +
                  (area.left - ahead.left),
              ahead.width(), area};
    const auto x = static_cast<std::int16_t>(area.left), y = static_cast<std::int16_t>(area.top);
    const auto w = static_cast<std::uint16_t>(area.width());
    const auto h = static_cast<std::uint16_t>(area.height());
    fallback_.reset();
    if (display_.shm) {
      try {
        x11::growSegment(segment_, c, static_cast<std::size_t>(w) * h * 4);
        xcb_generic_error_t* e = nullptr;
        const auto reply = x11::checked(xcb_shm_get_image_reply(c, readShared(area), &e), &e,
                                        "reading the screen (MIT-SHM)");
        if (!reply) throw std::runtime_error("ShmGetImage failed");
        return {segment_->pixels(), area.width(), area};
      } catch (const std::runtime_error&) {
        if (segment_) throw;   // a failed read with a working segment: just this tick
        display_.shm = false;  // the server cannot share memory with us: read the slow way
      }
    }
    xcb_generic_error_t* e = nullptr;
    fallback_ = x11::checked(
        xcb_get_image_reply(
            c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, display_.screen->root, x, y, w, h, ~0u),
            &e),
        &e, "reading the screen");
    if (!fallback_) throw std::runtime_error("GetImage failed");
    return {reinterpret_cast<const std::uint32_t*>(xcb_get_image_data(fallback_.get())),
            area.width(), area};
  }

  bool unchanged(const Rect& area) override { return !damage_.touched(area); }
  void forgetChanges() override { damage_.forget(); }
  ServerPixels onServer() override { return {owner_.get(), display_.screen->root}; }

 private:
  // With `around`, the area the last tick read: the screen around it is read in the same round
  // trip, for the capture that follows to take its part from.
  QPoint queryPointer(x11::ChangeWatch::Clock::time_point now,
                      std::optional<Rect> around = std::nullopt) {
    xcb_connection_t* c = display_.connection;
    const xcb_query_pointer_cookie_t asked = xcb_query_pointer(c, display_.screen->root);
    const Rect ahead = around ? readAround(*around) : Rect{};
    xcb_shm_get_image_cookie_t reading{};
    if (!ahead.isEmpty()) reading = readShared(ahead);
    xcb_generic_error_t* e = nullptr;
    const auto reply =
        x11::checked(xcb_query_pointer_reply(c, asked, &e), &e, "asking for the pointer");
    if (!ahead.isEmpty()) {
      // A failed read ahead costs nothing but the capture's own round trip.
      xcb_generic_error_t* failed = nullptr;
      const x11::Reply<xcb_shm_get_image_reply_t> read(
          xcb_shm_get_image_reply(c, reading, &failed));
      const x11::Reply<xcb_generic_error_t> error(failed);
      if (read) readAhead_ = ahead;
    }
    if (!reply) throw std::runtime_error("QueryPointer failed");
    const QPoint p(reply->root_x, reply->root_y);
    changes_.pointerQueried(now, p != pointer_);
    pointer_ = p;
    return pointer_;
  }

  // The screen around `area`, as far as the pointer moves in a tick while the user reads, where
  // the shared segment is ready to take it: else empty.
  Rect readAround(const Rect& area) {
    constexpr int Margin = 32;
    const Rect bounds = desktopBounds();
    const Rect ahead =
        Rect{area.left - Margin, area.top - Margin, area.right + Margin, area.bottom + Margin}
            .intersected(bounds);
    if (!display_.shm || !segment_ || ahead.isEmpty()) return {};
    try {
      x11::growSegment(segment_, display_.connection,
                       static_cast<std::size_t>(ahead.width()) * ahead.height() * 4);
    } catch (const std::runtime_error&) {
      return {};  // the capture makes one, or says why it cannot
    }
    return ahead;
  }

  // `area` of the screen into the shared segment.
  xcb_shm_get_image_cookie_t readShared(const Rect& area) {
    return xcb_shm_get_image(
        display_.connection, display_.screen->root, static_cast<std::int16_t>(area.left),
        static_cast<std::int16_t>(area.top), static_cast<std::uint16_t>(area.width()),
        static_cast<std::uint16_t>(area.height()), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, segment_->id(),
        0);
  }

  void fire() {
    notifier_->setEnabled(false);
    due_.stop();
    if (auto wake = std::exchange(wake_, nullptr)) wake();
  }

  std::shared_ptr<X11Display> owner_;
  x11::Display display_;
  x11::ChangeWatch changes_;
  x11::DamageWatch damage_;
  std::vector<Rect> monitors_;
  QPoint pointer_;
  std::unique_ptr<QSocketNotifier> notifier_;  // on while watching: the connection has events
  QTimer due_;                                 // while watching: the pointer's next look
  std::function<void()> wake_;
  std::unique_ptr<x11::SharedSegment> segment_;
  x11::Reply<xcb_get_image_reply_t> fallback_;
  std::optional<Rect> lastRead_;  // the area the last tick captured
  Rect readAhead_;                // the area the segment holds, read with the pointer this tick
};

}  // namespace

std::unique_ptr<ScreenSource> createX11Source(std::shared_ptr<X11Display> display,
                                              bool followChanges) {
  return std::make_unique<X11Source>(std::move(display), followChanges);
}
