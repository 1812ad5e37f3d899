#include "platform/x11/X11Desktop.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/render.h>
#include <xcb/shm.h>

#include <QGuiApplication>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>
#include <stdexcept>
#include <utility>

#include "platform/DeviceScale.h"
#include "platform/x11/X11Internal.h"

namespace x11 {

SharedSegment::SharedSegment(xcb_connection_t* c, std::size_t bytes)
    : connection_(c), bytes_(bytes) {
  const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
  if (id < 0) throw std::runtime_error("shmget failed");
  address_ = shmat(id, nullptr, 0);
  if (address_ == reinterpret_cast<void*>(-1)) {
    shmctl(id, IPC_RMID, nullptr);
    throw std::runtime_error("shmat failed");
  }
  segment_ = xcb_generate_id(c);
  Reply<xcb_generic_error_t> error(
      xcb_request_check(c, xcb_shm_attach_checked(c, segment_, static_cast<std::uint32_t>(id), 0)));
  // Marked for removal once both sides hold it: it goes with the last detach, even if this
  // process dies.
  shmctl(id, IPC_RMID, nullptr);
  if (error) {
    shmdt(address_);
    throw std::runtime_error("the X server cannot attach shared memory");
  }
}

SharedSegment::~SharedSegment() {
  xcb_shm_detach(connection_, segment_);
  xcb_flush(connection_);
  shmdt(address_);
}

}  // namespace x11

namespace {

struct Disconnect {
  void operator()(xcb_connection_t* c) const { xcb_disconnect(c); }
};

class X11Desktop final : public Desktop {
 public:
  X11Desktop(Drawing drawing, bool followChanges) : drawing_(drawing) {
    int screenNumber = 0;
    connection_.reset(xcb_connect(nullptr, &screenNumber));
    xcb_connection_t* c = connection_.get();
    if (xcb_connection_has_error(c)) throw std::runtime_error("cannot open the X display");
    auto it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && it.rem; ++i) xcb_screen_next(&it);
    display_.connection = c;
    display_.screen = it.data;
    if (!display_.screen || pixelBits(display_.screen->root_depth) != 32)
      throw std::runtime_error(
          QStringLiteral("Экран показывает %1 бит цвета на точку, а Вендрелу нужно 24 или 32. "
                         "Выберите глубину цвета 24 бита в настройках экрана.")
              .arg(display_.screen ? display_.screen->root_depth : 0)
              .toStdString());

    const auto* shm = xcb_get_extension_data(c, &xcb_shm_id);
    display_.shm = shm && shm->present;
    const auto* render = xcb_get_extension_data(c, &xcb_render_id);
    if (render && render->present) {
      x11::Reply<xcb_render_query_version_reply_t> version(xcb_render_query_version_reply(
          c, xcb_render_query_version(c, XCB_RENDER_MAJOR_VERSION, XCB_RENDER_MINOR_VERSION),
          nullptr));
      display_.render = version && (version->major_version > 0 || version->minor_version >= 6);
    }
    changes_ = std::make_unique<x11::ChangeWatch>(c, display_.screen, followChanges);
    display_.changes = changes_.get();

    notifier_ =
        std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(c), QSocketNotifier::Read);
    notifier_->setEnabled(false);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
      if (changes_->takeActivity()) fire();
    });
    due_.setSingleShot(true);
    due_.setInterval(x11::ChangeWatch::PointerSafetyInterval);
    QObject::connect(&due_, &QTimer::timeout, [this] {
      // A program may have moved the pointer, which no event tells: look, and wake the
      // magnifier only when something did change.
      try {
        queryPointer(x11::ChangeWatch::Clock::now());
        if (!changes_->takeActivity()) {
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
    changes_->drain();
    if (!changes_->pointerMayHaveMoved(now)) return pointer_;  // no round trip for a still one
    return queryPointer(now);
  }

  bool reportsChanges() override { return changes_->watches(); }

  bool changed() override { return changes_->takeActivity(); }

  void watch(std::function<void()> wake) override {
    wake_ = std::move(wake);
    if (!wake_) {
      notifier_->setEnabled(false);
      due_.stop();
      return;
    }
    if (changes_->takeActivity()) {  // came while the last tick ran
      QTimer::singleShot(0, &due_, [this] { fire(); });
      return;
    }
    // Events come only while the desktop changes: watching costs nothing until then.
    notifier_->setEnabled(true);
    due_.start();
  }

  const std::vector<Rect>& monitors() override {
    monitors_.clear();  // refilled in place: no allocation once it has its size
    auto add = [this](const QScreen* s) {
      // Qt's screens are logical; the pointer and the root window's pixels are not.
      const QRect g = s->geometry();
      monitors_.push_back(toDevice(g, g.topLeft(), s->devicePixelRatio()));
    };
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (primary) add(primary);
    for (const QScreen* s : QGuiApplication::screens())
      if (s != primary) add(s);
    if (monitors_.empty())
      monitors_.push_back(
          {0, 0, display_.screen->width_in_pixels, display_.screen->height_in_pixels});
    return monitors_;
  }

  void sync() override {
    x11::Reply<xcb_get_input_focus_reply_t> reply(xcb_get_input_focus_reply(
        display_.connection, xcb_get_input_focus(display_.connection), nullptr));
  }

  std::unique_ptr<ScreenCanvas> createCanvas() override {
    if (drawing_ == Drawing::Fastest && display_.render) return x11::createRenderCanvas(display_);
    return x11::createPixelCanvas(display_);
  }

  std::unique_ptr<ScreenCanvas> createCanvasOver(PixelSource& source) {
    return x11::createPixelCanvas(display_, &source);
  }

 private:
  QPoint queryPointer(x11::ChangeWatch::Clock::time_point now) {
    xcb_generic_error_t* e = nullptr;
    const auto reply = x11::checked(
        xcb_query_pointer_reply(display_.connection,
                                xcb_query_pointer(display_.connection, display_.screen->root), &e),
        &e, "asking for the pointer");
    if (!reply) throw std::runtime_error("QueryPointer failed");
    const QPoint p(reply->root_x, reply->root_y);
    changes_->pointerQueried(now, p != pointer_);
    pointer_ = p;
    return pointer_;
  }

  void fire() {
    notifier_->setEnabled(false);
    due_.stop();
    if (auto wake = std::exchange(wake_, nullptr)) wake();
  }

  int pixelBits(int depth) const {
    auto it = xcb_setup_pixmap_formats_iterator(xcb_get_setup(connection_.get()));
    for (; it.rem; xcb_format_next(&it))
      if (it.data->depth == depth) return it.data->bits_per_pixel;
    return 0;
  }

  Drawing drawing_;
  std::unique_ptr<xcb_connection_t, Disconnect> connection_;
  std::unique_ptr<x11::ChangeWatch> changes_;
  x11::Display display_;
  std::vector<Rect> monitors_;
  QPoint pointer_;
  std::unique_ptr<QSocketNotifier> notifier_;  // on while watching: the connection has events
  QTimer due_;                                 // while watching: the pointer's next look
  std::function<void()> wake_;
};

}  // namespace

void useXcbInPhysicalPixels() {
  qputenv("QT_QPA_PLATFORM", "xcb");
  qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
  qunsetenv("QT_SCALE_FACTOR");
  qunsetenv("QT_SCREEN_SCALE_FACTORS");
}

void useXcbAtTheDesktopScale() {
  qputenv("QT_QPA_PLATFORM", "xcb");
  // Qt scales by Xft.dpi and by its own variables, as it does for any program, unless the user
  // turned that off; the view draws in device pixels all the same.
  if (qEnvironmentVariable("QT_ENABLE_HIGHDPI_SCALING") != QLatin1String("0"))
    qunsetenv("QT_ENABLE_HIGHDPI_SCALING");
}

std::unique_ptr<Desktop> createX11Desktop(Drawing drawing, bool followChanges) {
  return std::make_unique<X11Desktop>(drawing, followChanges);
}

std::unique_ptr<ScreenCanvas> createX11CanvasOver(Desktop& x11, PixelSource& source) {
  return dynamic_cast<X11Desktop&>(x11).createCanvasOver(source);
}
