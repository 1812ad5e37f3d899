#include "tools/XSession.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xproto.h>
#include <xcb/xtest.h>

#include <QFile>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

void sleepMs(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool waitUntil(const std::function<bool()>& condition, int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    sleepMs(10);
  }
  return true;
}

// ---------------------------------------------------------------------------------------------

AccessibilityBus::AccessibilityBus(const QString& display, XSession& x)
    : address_(QStringLiteral("unix:path=") + files_.filePath(QStringLiteral("bus"))) {
  const QStringList session{QStringLiteral("DBUS_SESSION_BUS_ADDRESS=") + address_,
                            QStringLiteral("DISPLAY=") + display};
  dbus_ = std::make_unique<ChildProcess>(
      QStringLiteral("dbus-daemon"),
      QStringList{QStringLiteral("--session"), QStringLiteral("--address=") + address_,
                  QStringLiteral("--nofork"), QStringLiteral("--nopidfile")},
      session, true);
  waitUntil([&] { return QFile::exists(files_.filePath(QStringLiteral("bus"))); });
  launcher_ = std::make_unique<ChildProcess>(
      QStringLiteral("/usr/libexec/at-spi-bus-launcher"),
      QStringList{QStringLiteral("--launch-immediately"), QStringLiteral("--a11y=1")}, session,
      true);
  if (!waitUntil([&] { return x.hasProperty(x.root(), "AT_SPI_BUS"); }))
    throw std::runtime_error("the accessibility bus did not start");
}

QStringList AccessibilityBus::environment() const {
  return {QStringLiteral("DBUS_SESSION_BUS_ADDRESS=") + address_,
          QStringLiteral("AT_SPI_BUS_ADDRESS")};  // found through the session bus
}

// ---------------------------------------------------------------------------------------------

ChildProcess::ChildProcess(const QString& program, const QStringList& arguments,
                           const QStringList& environment, bool quiet) {
  std::vector<QByteArray> args{program.toLocal8Bit()};
  for (const QString& a : arguments) args.push_back(a.toLocal8Bit());
  std::vector<QByteArray> env;
  for (const QString& e : environment) env.push_back(e.toLocal8Bit());
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    for (const QByteArray& e : env) putenv(const_cast<char*>(e.constData()));
    if (quiet) {  // servers' chatter would bury the test output
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
    }
    std::vector<char*> argv;
    for (const QByteArray& a : args) argv.push_back(const_cast<char*>(a.constData()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
}

ChildProcess::~ChildProcess() {
  stop();
}

std::optional<int> ChildProcess::wait(int milliseconds) {
  if (status_) return status_;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  do {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return status_;
    }
    sleepMs(5);
  } while (std::chrono::steady_clock::now() < end);
  return std::nullopt;
}

bool ChildProcess::running() {
  return !wait(0);
}

void ChildProcess::stop() {
  if (pid_ <= 0 || status_) return;
  kill(pid_, SIGTERM);
  if (!wait(3000)) {
    kill(pid_, SIGKILL);
    wait(3000);
  }
}

// ---------------------------------------------------------------------------------------------

VirtualScreen::VirtualScreen(int width, int height, const QStringList& options, int depth) {
  startServer(QStringLiteral("Xvfb"),
              QStringList{QStringLiteral("-screen"), QStringLiteral("0"),
                          QStringLiteral("%1x%2x%3").arg(width).arg(height).arg(depth)} +
                  options);
}

namespace {

// A 60 Hz mode line of the given size; the dummy driver takes any timing.
QString modeLine(QSize s) {
  const int w = s.width(), h = s.height(), hTotal = w + 160, vTotal = h + 30;
  return QStringLiteral("  Modeline \"%1x%2\" %3 %1 %4 %5 %6 %2 %7 %8 %9 -hsync +vsync\n")
      .arg(w)
      .arg(h)
      .arg(hTotal * vTotal * 60 / 1e6, 0, 'f', 2)
      .arg(w + 16)
      .arg(w + 96)
      .arg(hTotal)
      .arg(h + 3)
      .arg(h + 7)
      .arg(vTotal);
}

QString dummyConfiguration(const std::vector<DummyMonitor>& monitors, QSize size) {
  // No input devices of the machine's: the tests drive the server through XTest only.
  QString c = QStringLiteral(
      "Section \"ServerFlags\"\n"
      "  Option \"AutoAddDevices\" \"false\"\n"
      "  Option \"AutoEnableDevices\" \"false\"\n"
      "  Option \"DontVTSwitch\" \"true\"\n"
      "EndSection\n"
      "Section \"Device\"\n"
      "  Identifier \"dummy\"\n"
      "  Driver \"dummy\"\n"
      "  VideoRam 65536\n");
  for (std::size_t i = 0; i < monitors.size(); ++i)
    c += QStringLiteral("  Option \"Monitor-DUMMY%1\" \"m%1\"\n").arg(i);
  c += QStringLiteral("EndSection\n");
  for (std::size_t i = 0; i < monitors.size(); ++i) {
    const DummyMonitor& m = monitors[i];
    c += QStringLiteral("Section \"Monitor\"\n  Identifier \"m%1\"\n").arg(i) + modeLine(m.size) +
         QStringLiteral(
             "  Option \"PreferredMode\" \"%1x%2\"\n"
             "  Option \"Position\" \"%3 %4\"\n"
             "  Option \"Enable\" \"true\"\n")
             .arg(m.size.width())
             .arg(m.size.height())
             .arg(m.position.x())
             .arg(m.position.y());
    if (m.primary) c += QStringLiteral("  Option \"Primary\" \"true\"\n");
    c += QStringLiteral("EndSection\n");
  }
  c += QStringLiteral(
           "Section \"Screen\"\n"
           "  Identifier \"screen\"\n"
           "  Device \"dummy\"\n"
           "  Monitor \"m0\"\n"
           "  DefaultDepth 24\n"
           "  SubSection \"Display\"\n"
           "    Depth 24\n"
           "    Virtual %1 %2\n"
           "  EndSubSection\n"
           "EndSection\n")
           .arg(size.width())
           .arg(size.height());
  return c;
}

}  // namespace

VirtualScreen::VirtualScreen(const std::vector<DummyMonitor>& monitors, QSize size) {
  if (geteuid() != 0)
    throw std::runtime_error("Xorg reads a configuration file of its own only when run as root");
  files_ = std::make_unique<QTemporaryDir>();
  const QString config = files_->filePath(QStringLiteral("xorg.conf"));
  QFile file(config);
  if (!file.open(QIODevice::WriteOnly) ||
      file.write(dummyConfiguration(monitors, size).toUtf8()) < 0 || !file.flush())
    throw std::runtime_error("cannot write the Xorg configuration");
  file.close();
  startServer(QStringLiteral("Xorg"),
              {QStringLiteral("-config"), config, QStringLiteral("-logfile"),
               files_->filePath(QStringLiteral("Xorg.log")), QStringLiteral("-novtswitch"),
               QStringLiteral("-sharevts")});
}

void VirtualScreen::startServer(const QString& program, const QStringList& arguments) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) throw std::runtime_error("pipe failed");
  // The server writes the display number it picked to -displayfd once it is ready: no races
  // over free numbers.
  server_ = std::make_unique<ChildProcess>(
      program,
      QStringList{QStringLiteral("-displayfd"), QString::number(pipeFds[1]),
                  QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-noreset")} +
          arguments,
      QStringList{}, true);
  close(pipeFds[1]);
  std::string number;
  char c = 0;
  while (read(pipeFds[0], &c, 1) == 1 && c != '\n') number += c;
  close(pipeFds[0]);
  if (number.empty()) throw std::runtime_error(program.toStdString() + " did not start");
  display_ = QStringLiteral(":") + QString::fromStdString(number);
}

VirtualScreen::~VirtualScreen() {
  windowManager_.reset();
  server_.reset();
}

void VirtualScreen::startWindowManager() {
  windowManager_ = std::make_unique<ChildProcess>(
      QStringLiteral("openbox"), QStringList{QStringLiteral("--sm-disable")},
      QStringList{QStringLiteral("DISPLAY=") + display_}, true);
  XSession session(display_);
  if (!waitUntil([&] { return session.windowManagerRunning(); }))
    throw std::runtime_error("openbox did not start");
  sleepMs(100);  // let it finish setting up before windows are mapped
}

// ---------------------------------------------------------------------------------------------

struct XSession::Impl {
  xcb_connection_t* c = nullptr;
  xcb_screen_t* screen = nullptr;
  xcb_pixmap_t background = 0;

  xcb_atom_t atom(const char* name) {
    auto* r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::strlen(name), name), nullptr);
    const xcb_atom_t a = r ? r->atom : 0;
    std::free(r);
    return a;
  }

  QByteArray property(xcb_window_t w, xcb_atom_t name, xcb_atom_t type) {
    auto* r = xcb_get_property_reply(c, xcb_get_property(c, 0, w, name, type, 0, 4096), nullptr);
    QByteArray value;
    if (r && r->format == 8)
      value = QByteArray(static_cast<const char*>(xcb_get_property_value(r)),
                         xcb_get_property_value_length(r));
    std::free(r);
    return value;
  }

  bool hasProperty(xcb_window_t w, xcb_atom_t name) {
    auto* r =
        xcb_get_property_reply(c, xcb_get_property(c, 0, w, name, XCB_ATOM_ANY, 0, 0), nullptr);
    const bool has = r && r->type != XCB_NONE;
    std::free(r);
    return has;
  }

  std::vector<xcb_window_t> children(xcb_window_t w) {
    std::vector<xcb_window_t> out;
    auto* r = xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr);
    if (!r) return out;
    const xcb_window_t* kids = xcb_query_tree_children(r);
    out.assign(kids, kids + xcb_query_tree_children_length(r));
    std::free(r);
    return out;
  }

  // The client inside a window manager's frame: the descendant that carries WM_STATE.
  xcb_window_t client(xcb_window_t w, xcb_atom_t wmState, int depth = 0) {
    if (hasProperty(w, wmState)) return w;
    if (depth > 3) return 0;
    for (xcb_window_t k : children(w))
      if (xcb_window_t found = client(k, wmState, depth + 1)) return found;
    return 0;
  }

  QRect rootGeometry(xcb_window_t w) {
    auto* g = xcb_get_geometry_reply(c, xcb_get_geometry(c, w), nullptr);
    auto* t = xcb_translate_coordinates_reply(
        c, xcb_translate_coordinates(c, w, screen->root, 0, 0), nullptr);
    QRect r;
    if (g && t) r = QRect(t->dst_x, t->dst_y, g->width, g->height);
    std::free(g);
    std::free(t);
    return r;
  }

  xcb_keycode_t keycode(std::uint32_t keysym) {
    const xcb_setup_t* setup = xcb_get_setup(c);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    auto* r = xcb_get_keyboard_mapping_reply(
        c, xcb_get_keyboard_mapping(c, setup->min_keycode, count), nullptr);
    xcb_keycode_t found = 0;
    if (r) {
      const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(r);
      for (int k = 0; k < count && !found; ++k)
        for (int i = 0; i < r->keysyms_per_keycode; ++i)
          if (syms[k * r->keysyms_per_keycode + i] == keysym) {
            found = static_cast<xcb_keycode_t>(setup->min_keycode + k);
            break;
          }
    }
    std::free(r);
    if (!found) throw std::runtime_error("no keycode for keysym");
    return found;
  }
};

XSession::XSession(const QString& display) : d_(std::make_unique<Impl>()) {
  d_->c = xcb_connect(display.toLocal8Bit().constData(), nullptr);
  if (xcb_connection_has_error(d_->c)) {
    xcb_disconnect(d_->c);
    throw std::runtime_error("cannot connect to " + display.toStdString());
  }
  d_->screen = xcb_setup_roots_iterator(xcb_get_setup(d_->c)).data;
}

XSession::~XSession() {
  if (d_->background) xcb_free_pixmap(d_->c, d_->background);
  xcb_disconnect(d_->c);
}

QSize XSession::screenSize() const {
  // Asked anew: RandR may have grown the screen since the connection was made.
  auto* g = xcb_get_geometry_reply(d_->c, xcb_get_geometry(d_->c, d_->screen->root), nullptr);
  if (!g) return {d_->screen->width_in_pixels, d_->screen->height_in_pixels};
  const QSize size(g->width, g->height);
  std::free(g);
  return size;
}

void XSession::setRootPicture(const QImage& picture) {
  const QImage image = picture.convertToFormat(QImage::Format_RGB32);
  xcb_connection_t* c = d_->c;
  xcb_window_t root = d_->screen->root;
  if (d_->background) xcb_free_pixmap(c, d_->background);
  d_->background = xcb_generate_id(c);
  xcb_create_pixmap(c, d_->screen->root_depth, d_->background, root,
                    static_cast<std::uint16_t>(image.width()),
                    static_cast<std::uint16_t>(image.height()));
  xcb_gcontext_t gc = xcb_generate_id(c);
  xcb_create_gc(c, gc, d_->background, 0, nullptr);
  // In bands, to stay under the server's request size.
  const int band = std::max(1, 200000 / std::max(1, image.width()));
  for (int y = 0; y < image.height(); y += band) {
    const int rows = std::min(band, image.height() - y);
    xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, d_->background, gc,
                  static_cast<std::uint16_t>(image.width()), static_cast<std::uint16_t>(rows), 0,
                  static_cast<std::int16_t>(y), 0, d_->screen->root_depth,
                  static_cast<std::uint32_t>(rows * image.bytesPerLine()), image.constScanLine(y));
  }
  xcb_free_gc(c, gc);
  const std::uint32_t value = d_->background;
  xcb_change_window_attributes(c, root, XCB_CW_BACK_PIXMAP, &value);
  xcb_clear_area(c, 0, root, 0, 0, 0, 0);
  sync();
}

std::uint32_t XSession::showPicture(const QImage& picture, QPoint at) {
  const QImage image = picture.convertToFormat(QImage::Format_RGB32);
  xcb_connection_t* c = d_->c;
  const xcb_window_t root = d_->screen->root;
  const xcb_pixmap_t pixmap = xcb_generate_id(c);
  xcb_create_pixmap(c, d_->screen->root_depth, pixmap, root,
                    static_cast<std::uint16_t>(image.width()),
                    static_cast<std::uint16_t>(image.height()));
  const xcb_gcontext_t gc = xcb_generate_id(c);
  xcb_create_gc(c, gc, pixmap, 0, nullptr);
  const int band = std::max(1, 200000 / std::max(1, image.width()));
  for (int y = 0; y < image.height(); y += band) {
    const int rows = std::min(band, image.height() - y);
    xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, gc,
                  static_cast<std::uint16_t>(image.width()), static_cast<std::uint16_t>(rows), 0,
                  static_cast<std::int16_t>(y), 0, d_->screen->root_depth,
                  static_cast<std::uint32_t>(rows * image.bytesPerLine()), image.constScanLine(y));
  }
  xcb_free_gc(c, gc);
  const xcb_window_t window = xcb_generate_id(c);
  const std::uint32_t values[] = {pixmap, 1};
  xcb_create_window(c, XCB_COPY_FROM_PARENT, window, root, static_cast<std::int16_t>(at.x()),
                    static_cast<std::int16_t>(at.y()), static_cast<std::uint16_t>(image.width()),
                    static_cast<std::uint16_t>(image.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                    XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXMAP | XCB_CW_OVERRIDE_REDIRECT, values);
  xcb_free_pixmap(c, pixmap);  // the window keeps it
  xcb_map_window(c, window);
  sync();
  return window;
}

void XSession::movePointer(int x, int y) {
  xcb_test_fake_input(d_->c, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, d_->screen->root,
                      static_cast<std::int16_t>(x), static_cast<std::int16_t>(y), 0);
  sync();
}

void XSession::warpPointer(int x, int y) {
  xcb_warp_pointer(d_->c, XCB_NONE, d_->screen->root, 0, 0, 0, 0, static_cast<std::int16_t>(x),
                   static_cast<std::int16_t>(y));
  sync();
}

QPoint XSession::pointer() {
  auto* r = xcb_query_pointer_reply(d_->c, xcb_query_pointer(d_->c, d_->screen->root), nullptr);
  if (!r) throw std::runtime_error("QueryPointer failed");
  const QPoint p(r->root_x, r->root_y);
  std::free(r);
  return p;
}

void XSession::click(int button, int x, int y) {
  movePointer(x, y);
  const auto b = static_cast<std::uint8_t>(button);
  xcb_test_fake_input(d_->c, XCB_BUTTON_PRESS, b, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
  xcb_test_fake_input(d_->c, XCB_BUTTON_RELEASE, b, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
  sync();
}

void XSession::drag(int button, QPoint from, QPoint to, bool alt) {
  const xcb_keycode_t altKey = alt ? d_->keycode(keysym::Alt_L) : 0;
  movePointer(from.x(), from.y());
  if (alt) xcb_test_fake_input(d_->c, XCB_KEY_PRESS, altKey, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
  const auto b = static_cast<std::uint8_t>(button);
  xcb_test_fake_input(d_->c, XCB_BUTTON_PRESS, b, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
  sync();
  sleepMs(50);
  constexpr int Steps = 10;
  for (int i = 1; i <= Steps; ++i) {
    movePointer(from.x() + (to.x() - from.x()) * i / Steps,
                from.y() + (to.y() - from.y()) * i / Steps);
    sleepMs(15);
  }
  xcb_test_fake_input(d_->c, XCB_BUTTON_RELEASE, b, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
  if (alt) xcb_test_fake_input(d_->c, XCB_KEY_RELEASE, altKey, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
  sync();
  sleepMs(100);
}

void XSession::closeWindow(std::uint32_t client) {
  xcb_client_message_event_t e{};
  e.response_type = XCB_CLIENT_MESSAGE;
  e.format = 32;
  e.window = client;
  if (windowManagerRunning()) {
    e.type = d_->atom("_NET_CLOSE_WINDOW");
    e.data.data32[0] = XCB_CURRENT_TIME;
    e.data.data32[1] = 2;  // from a pager or task bar: the user's own request
    xcb_send_event(d_->c, 0, d_->screen->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&e));
  } else {
    e.type = d_->atom("WM_PROTOCOLS");
    e.data.data32[0] = d_->atom("WM_DELETE_WINDOW");
    e.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(d_->c, 0, client, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&e));
  }
  sync();
}

void XSession::pressKeys(const std::vector<std::uint32_t>& keysyms) {
  std::vector<xcb_keycode_t> codes;
  for (std::uint32_t k : keysyms) codes.push_back(d_->keycode(k));
  for (xcb_keycode_t k : codes)
    xcb_test_fake_input(d_->c, XCB_KEY_PRESS, k, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
  for (auto k = codes.rbegin(); k != codes.rend(); ++k)
    xcb_test_fake_input(d_->c, XCB_KEY_RELEASE, *k, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
  sync();
}

QImage XSession::grab(const QRect& area, std::uint32_t window) {
  auto* r = xcb_get_image_reply(
      d_->c,
      xcb_get_image(d_->c, XCB_IMAGE_FORMAT_Z_PIXMAP, window ? window : d_->screen->root,
                    static_cast<std::int16_t>(area.x()), static_cast<std::int16_t>(area.y()),
                    static_cast<std::uint16_t>(area.width()),
                    static_cast<std::uint16_t>(area.height()), ~0u),
      nullptr);
  if (!r) throw std::runtime_error("GetImage failed");
  QImage image(xcb_get_image_data(r), area.width(), area.height(), area.width() * 4,
               QImage::Format_RGB32);
  QImage copy = image.copy();
  std::free(r);
  for (int y = 0; y < copy.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(copy.scanLine(y));
    for (int x = 0; x < copy.width(); ++x) line[x] |= 0xff000000u;
  }
  return copy;
}

std::vector<WindowInfo> XSession::topLevels() {
  const xcb_atom_t wmState = d_->atom("WM_STATE");
  const xcb_atom_t netName = d_->atom("_NET_WM_NAME");
  const xcb_atom_t utf8 = d_->atom("UTF8_STRING");
  std::vector<WindowInfo> out;
  for (xcb_window_t top : d_->children(d_->screen->root)) {
    WindowInfo info;
    info.frame = top;
    info.id = d_->client(top, wmState);
    if (!info.id) info.id = top;
    QByteArray title = d_->property(info.id, netName, utf8);
    if (title.isEmpty()) title = d_->property(info.id, XCB_ATOM_WM_NAME, XCB_ATOM_ANY);
    info.title = QString::fromUtf8(title);
    const QByteArray cls = d_->property(info.id, XCB_ATOM_WM_CLASS, XCB_ATOM_ANY);
    info.className = QString::fromUtf8(cls.mid(cls.indexOf('\0') + 1)).remove(QChar(0));
    info.client = d_->rootGeometry(info.id);
    info.outer = d_->rootGeometry(top);
    auto* a =
        xcb_get_window_attributes_reply(d_->c, xcb_get_window_attributes(d_->c, info.id), nullptr);
    info.viewable = a && a->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(a);
    out.push_back(info);
  }
  return out;
}

std::optional<WindowInfo> XSession::waitForWindow(const QString& prefix, int ms) {
  return waitForWindowWhere([&](const QString& title) { return title.startsWith(prefix); }, ms);
}

std::optional<WindowInfo> XSession::waitForWindowTitled(const QString& title, int ms) {
  return waitForWindowWhere([&](const QString& t) { return t == title; }, ms);
}

std::optional<WindowInfo> XSession::waitForWindowWhere(
    const std::function<bool(const QString&)>& titled, int ms) {
  std::optional<WindowInfo> found;
  waitUntil(
      [&] {
        for (const WindowInfo& w : topLevels())
          if (w.viewable && titled(w.title)) {
            found = w;
            return true;
          }
        return false;
      },
      ms);
  return found;
}

void XSession::minimize(std::uint32_t client) {
  xcb_client_message_event_t e{};
  e.response_type = XCB_CLIENT_MESSAGE;
  e.format = 32;
  e.window = client;
  e.type = d_->atom("WM_CHANGE_STATE");
  e.data.data32[0] = 3;  // IconicState
  xcb_send_event(d_->c, 0, d_->screen->root,
                 XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                 reinterpret_cast<const char*>(&e));
  sync();
}

bool XSession::hasProperty(std::uint32_t window, const char* name) {
  return d_->hasProperty(window, d_->atom(name));
}

bool XSession::windowManagerRunning() {
  // A window manager owns the WM_S0 selection while it manages screen 0.
  auto* owner = xcb_get_selection_owner_reply(
      d_->c, xcb_get_selection_owner(d_->c, d_->atom("WM_S0")), nullptr);
  const bool running = owner && owner->owner != XCB_NONE;
  std::free(owner);
  return running;
}

void XSession::paint(std::uint32_t window, const QRect& area, QRgb colour) {
  const xcb_gcontext_t gc = xcb_generate_id(d_->c);
  const std::uint32_t pixel = colour & 0xffffffu;
  xcb_create_gc(d_->c, gc, window, XCB_GC_FOREGROUND, &pixel);
  const xcb_rectangle_t r{static_cast<std::int16_t>(area.x()), static_cast<std::int16_t>(area.y()),
                          static_cast<std::uint16_t>(area.width()),
                          static_cast<std::uint16_t>(area.height())};
  xcb_poly_fill_rectangle(d_->c, window, gc, 1, &r);
  xcb_free_gc(d_->c, gc);
  sync();
}

std::uint32_t XSession::root() const {
  return d_->screen->root;
}

void XSession::configure(std::uint32_t window, const QRect& geometry) {
  const std::uint32_t values[] = {
      static_cast<std::uint32_t>(geometry.x()), static_cast<std::uint32_t>(geometry.y()),
      static_cast<std::uint32_t>(geometry.width()), static_cast<std::uint32_t>(geometry.height())};
  xcb_configure_window(d_->c, window,
                       XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                           XCB_CONFIG_WINDOW_HEIGHT,
                       values);
  sync();
}

void XSession::sync() {
  std::free(xcb_get_input_focus_reply(d_->c, xcb_get_input_focus(d_->c), nullptr));
}

// ---------------------------------------------------------------------------------------------

QImage uniquePixelPicture(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < width; ++x) line[x] = 0xff000000u | static_cast<QRgb>(y * width + x);
  }
  return image;
}

QPoint uniquePixelAt(QRgb colour, int width) {
  const int v = static_cast<int>(colour & 0xffffffu);
  return {v % width, v / width};
}
