#include "platform/x11/X11Display.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/render.h>
#include <xcb/shm.h>

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <stdexcept>
#include <tuple>

#include "platform/x11/X11Internal.h"

namespace x11 {

SharedSegment::SharedSegment(xcb_connection_t* c, std::size_t bytes)
    : connection_(c), bytes_(bytes) {
  const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
  if (id < 0) throw std::runtime_error("shmget failed");
  address_ = shmat(id, nullptr, 0);
  if (reinterpret_cast<std::intptr_t>(address_) == -1) {
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

void growSegment(std::unique_ptr<SharedSegment>& segment, xcb_connection_t* c, std::size_t bytes) {
  if (segment && segment->bytes() >= bytes) return;
  segment.reset();
  segment = std::make_unique<SharedSegment>(c, bytes);
}

std::pair<Connection, xcb_screen_t*> connectToDisplay() {
  int number = 0;
  Connection c(xcb_connect(nullptr, &number));
  if (xcb_connection_has_error(c.get())) throw std::runtime_error("cannot open the X display");
  auto it = xcb_setup_roots_iterator(xcb_get_setup(c.get()));
  for (int i = 0; i < number && it.rem; ++i) xcb_screen_next(&it);
  // A screen number the server does not have is refused by xcb_connect itself.
  xcb_screen_t* screen = it.rem ? it.data : nullptr;
  return {std::move(c), screen};
}

}  // namespace x11

X11Display::X11Display() {
  xcb_screen_t* screen = nullptr;
  std::tie(connection_, screen) = x11::connectToDisplay();
  xcb_connection_t* c = connection_.get();
  facts_.connection = c;
  facts_.screen = screen;
  if (!facts_.screen || pixelBits(facts_.screen->root_depth) != 32)
    throw std::runtime_error(
        QStringLiteral("Экран показывает %1 бит цвета на точку, а Вендрелу нужно 24 или 32. "
                       "Выберите глубину цвета 24 бита в настройках экрана.")
            .arg(facts_.screen ? facts_.screen->root_depth : 0)
            .toStdString());

  const auto* shm = xcb_get_extension_data(c, &xcb_shm_id);
  facts_.shm = shm && shm->present;
  const auto* render = xcb_get_extension_data(c, &xcb_render_id);
  if (render && render->present) {
    x11::Reply<xcb_render_query_version_reply_t> version(xcb_render_query_version_reply(
        c, xcb_render_query_version(c, XCB_RENDER_MAJOR_VERSION, XCB_RENDER_MINOR_VERSION),
        nullptr));
    facts_.render = version && (version->major_version > 0 || version->minor_version >= 6);
  }
}

int X11Display::pixelBits(int depth) const {
  auto it = xcb_setup_pixmap_formats_iterator(xcb_get_setup(connection_.get()));
  for (; it.rem; xcb_format_next(&it))
    if (it.data->depth == depth) return it.data->bits_per_pixel;
  return 0;
}

std::shared_ptr<X11Display> openX11Display() {
  return std::make_shared<X11Display>();
}

void sync(X11Display& display) {
  x11::roundTrip(display.facts().connection);
}

void requireX11Display() {
  xcb_connection_t* probe = xcb_connect(nullptr, nullptr);
  const bool failed = xcb_connection_has_error(probe) != 0;
  xcb_disconnect(probe);
  if (failed) {
    const QByteArray display = qgetenv("DISPLAY");
    throw std::runtime_error(display.isEmpty()
                                 ? "no X display: DISPLAY is not set"
                                 : "cannot open the X display \"" + display.toStdString() + "\"");
  }
}

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
