#pragma once

#include <QImage>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

void sleepMs(int ms);

// How long a test waits for what it expects, in milliseconds: far longer than anything takes on
// a machine busy with other work, and never waited out when things go right.
constexpr int Patience = 30000;
// Asks `condition` again and again until it holds or `ms` have passed on the clock; whether it
// held. A busy machine makes the wait longer, never the verdict different.
bool waitUntil(const std::function<bool()>& condition, int ms = Patience);

// A child process that is ended (SIGTERM, then SIGKILL) when this object goes, and also when
// the process that started it dies.
class ChildProcess {
 public:
  ChildProcess(const QString& program, const QStringList& arguments,
               const QStringList& environment = {}, bool quiet = false);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  int pid() const { return pid_; }
  // Waits up to `milliseconds` for the process to end; its exit status, or nullopt.
  std::optional<int> wait(int milliseconds = Patience);
  bool running();
  void stop();

 private:
  int pid_ = -1;
  std::optional<int> status_;
};

// A monitor of Xorg's dummy driver: the mode's size and where it sits on the screen.
struct DummyMonitor {
  QSize size;
  QPoint position;
  bool primary = false;
};

// An X server of its own for one run, optionally with openbox as window manager: Xvfb, or Xorg
// with the dummy driver where real RandR monitors are wanted.
class VirtualScreen {
 public:
  // Xvfb; `options` go to it as they are (for instance "-extension", "MIT-SHM" to leave one out).
  VirtualScreen(int width, int height, const QStringList& options = {}, int depth = 24);
  // Xorg with the dummy driver on a `size` screen, one RandR output (DUMMY0, DUMMY1, ...) per
  // monitor. Throws std::runtime_error when Xorg cannot start; it reads a configuration of
  // its own only when run as root.
  VirtualScreen(const std::vector<DummyMonitor>& monitors, QSize size);
  ~VirtualScreen();
  QString display() const { return display_; }
  int serverPid() const { return server_->pid(); }
  // Starts openbox and waits until it manages the screen.
  void startWindowManager();

 private:
  // Starts the server and reads the display number it picked from -displayfd.
  void startServer(const QString& program, const QStringList& arguments);

  std::unique_ptr<ChildProcess> server_;
  std::unique_ptr<ChildProcess> windowManager_;
  QString display_;
  std::unique_ptr<QTemporaryDir> files_;  // Xorg's configuration and log
};

// What the server says of one top-level window.
struct WindowInfo {
  std::uint32_t id = 0;     // the client window (inside its frame, under a window manager)
  std::uint32_t frame = 0;  // the child of the root that holds it (the window itself without one)
  QString title;
  QString className;
  QRect client;  // client area in root coordinates
  QRect outer;   // frame in root coordinates
  bool viewable = false;
};

// A client connection that drives the server as a user would: XTest pointer and keys,
// the root window's picture, screenshots.
class XSession {
 public:
  explicit XSession(const QString& display);
  ~XSession();
  XSession(const XSession&) = delete;
  XSession& operator=(const XSession&) = delete;

  QSize screenSize() const;
  // Shows `picture` as the root window's background.
  void setRootPicture(const QImage& picture);
  // Moves the pointer as a device does (XTest).
  void movePointer(int x, int y);
  // Moves it as a program does (WarpPointer): no device moved.
  void warpPointer(int x, int y);
  // Where the server has the pointer (it keeps it on the monitors).
  QPoint pointer();
  void click(int button, int x, int y);
  // Presses `button` at `from`, moves to `to` in steps and releases it; with Alt held when
  // `alt` (the window manager's move and resize drags).
  void drag(int button, QPoint from, QPoint to, bool alt);
  // Closes a client window as a user would through the window manager (_NET_CLOSE_WINDOW), or
  // as a window manager would (WM_DELETE_WINDOW) when there is none.
  void closeWindow(std::uint32_t client);
  // Presses the keys (keysyms) in order and releases them in reverse.
  void pressKeys(const std::vector<std::uint32_t>& keysyms);
  // What `area` of the screen shows; of `window`'s own pixels (window coordinates) when given,
  // whatever covers it: on Xwayland the root shows nothing, but each window keeps its own.
  QImage grab(const QRect& area, std::uint32_t window = 0);
  // Shows `picture` in a window of its own at `at`, above every managed window (override
  // redirect): the desktop on Xwayland, where the root window is never seen. Its id.
  std::uint32_t showPicture(const QImage& picture, QPoint at);
  // Paints `area` of a window (window coordinates) in `colour`, as some other program might.
  void paint(std::uint32_t window, const QRect& area, QRgb colour);
  std::uint32_t root() const;
  // Moves and sizes a top-level window, as a window manager would.
  void configure(std::uint32_t window, const QRect& geometry);
  // Top-level windows in stacking order, bottom first.
  std::vector<WindowInfo> topLevels();
  // Asks the window manager to minimise a client window (ICCCM WM_CHANGE_STATE).
  void minimize(std::uint32_t client);
  // The first viewable top-level whose title starts with `prefix`, waiting up to `ms`.
  std::optional<WindowInfo> waitForWindow(const QString& prefix, int ms = Patience);
  // The first viewable top-level titled exactly `title`, waiting up to `ms`.
  std::optional<WindowInfo> waitForWindowTitled(const QString& title, int ms = Patience);
  bool windowManagerRunning();
  // Whether the window carries the property (by name), of any type.
  bool hasProperty(std::uint32_t window, const char* name);
  void sync();

 private:
  std::optional<WindowInfo> waitForWindowWhere(const std::function<bool(const QString&)>& titled,
                                               int ms);

  struct Impl;
  std::unique_ptr<Impl> d_;
};

// A session bus of its own and, on it, the accessibility bus's launcher, which also tells the X
// server where that bus is. Throws std::runtime_error when it does not start.
class AccessibilityBus {
 public:
  AccessibilityBus(const QString& display, XSession& x);
  // What a program started on them needs in its environment.
  QStringList environment() const;

 private:
  QTemporaryDir files_;
  QString address_;
  std::unique_ptr<ChildProcess> dbus_, launcher_;
};

namespace keysym {
constexpr std::uint32_t Insert = 0xff63;
constexpr std::uint32_t Tab = 0xff09;
constexpr std::uint32_t w = 0x77;
constexpr std::uint32_t KP_Insert = 0xff9e;
constexpr std::uint32_t Control_L = 0xffe3;
constexpr std::uint32_t Shift_L = 0xffe1;
constexpr std::uint32_t Alt_L = 0xffe9;
constexpr std::uint32_t Escape = 0xff1b;
constexpr std::uint32_t Return = 0xff0d;
constexpr std::uint32_t Up = 0xff52;
constexpr std::uint32_t F4 = 0xffc1;
}  // namespace keysym

// A picture in which every pixel of a screen up to 4096 x 4096 has a colour of its own.
QImage uniquePixelPicture(int width, int height);
// Where a colour of uniquePixelPicture() lies.
QPoint uniquePixelAt(QRgb colour, int width);
