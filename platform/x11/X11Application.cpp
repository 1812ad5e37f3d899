#include "platform/x11/X11Application.h"

#include <xcb/xcb.h>

#include <QApplication>
#include <QIcon>
#include <QScreen>
#include <stdexcept>

#include "platform/Desktop.h"
#include "platform/HelpViewer.h"
#include "platform/Pictures.h"
#include "platform/QuitSignals.h"
#include "platform/Shell.h"
#include "platform/SystemInfo.h"
#include "platform/portal/PortalDesktop.h"
#include "platform/x11/X11Desktop.h"
#include "platform/x11/X11Windows.h"

namespace {

// Shows an exception that escapes an event handler and goes on, as the message loop must.
class GuardedApplication final : public QApplication {
 public:
  GuardedApplication(int& argc, char** argv, const Application& owner)
      : QApplication(argc, argv), owner_(owner) {}

  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
      owner_.showException(QString::fromLocal8Bit(e.what()));
    } catch (...) {
      owner_.showException(QString());
    }
    return false;
  }

 private:
  const Application& owner_;
};

void requireDisplay() {
  // Qt aborts when its xcb platform finds no display: say so plainly instead.
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

}  // namespace

X11Application::X11Application(int& argc, char** argv) {
  requireDisplay();
  if (waylandSession())
    useXcbInPhysicalPixels();
  else
    useXcbAtTheDesktopScale();
  // WM_CLASS class "Vendrel" whatever the file is called: what the desktop entry's
  // StartupWMClass names.
  QCoreApplication::setApplicationName(QStringLiteral("Vendrel"));
  qt_ = std::make_unique<GuardedApplication>(argc, argv, *this);
  // A logout or a shutdown ends a program with SIGTERM or SIGHUP: the settings are saved then
  // as when the window is closed. Caught from here on, before anything can wait on the user: a
  // start-up message box must not leave the program to die of the signal.
  signals_ = std::make_unique<QuitSignals>([this] { quitAsked(); });
  QApplication::setWindowIcon(applicationIcon());
  setExeName(QCoreApplication::applicationFilePath());
  try {
    // On a Wayland desktop the X root window holds only the XWayland windows: the pixels and
    // the pointer come through the desktop portal instead, and the X display only shows them.
    const bool wayland = waylandSession();
    desktop_ = createX11Desktop(Drawing::Fastest, !wayland);
    if (wayland)
      desktop_ = createPortalDesktop(
          std::move(desktop_),
          {[this] { return mainForm() ? mainForm()->frameGeometry() : QRect(); },
           [this](const QString& message) {
             showException(message);
             QCoreApplication::exit(1);
           }});
  } catch (const std::exception& e) {
    // Started from a menu, the program has no terminal to tell: say it where the user looks,
    // where Qt can paint a box at all (not on 8-bit screens).
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen && screen->depth() >= 15) showException(QString::fromUtf8(e.what()));
    throw;
  }
  help_ = std::make_unique<HelpViewer>();
  windows_ = std::make_unique<X11Windows>([this] { bringForward(); });
  shell_ = std::make_unique<XdgShell>();
  system_ = std::make_unique<HostSystemInfo>();
  failWritesBeyondTheSizeLimit();
}

X11Application::~X11Application() {
  signals_.reset();
  releaseForms();  // before the services and Qt they use go away
  windows_.reset();
  help_.reset();
  desktop_.reset();
}

void X11Application::setTitle(const QString& title) {
  Application::setTitle(title);
  windows_->setApplicationTitle(title);
}

TopLevelWindows& X11Application::windows() {
  return *windows_;
}

Shell& X11Application::shell() {
  return *shell_;
}

SystemInfo& X11Application::system() {
  return *system_;
}

void X11Application::helpCommand(int command, int /*data*/) {
  constexpr int Contents = 3;
  if (command == Contents) help_->showContents(helpFile(), title());
}
