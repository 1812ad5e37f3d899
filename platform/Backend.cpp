#include "platform/Backend.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <stdexcept>

#include "platform/access/AtSpiAttention.h"
#include "platform/forms/DesktopApplication.h"
#include "platform/pixels/ScreenSource.h"
#include "platform/pixels/ViewSurface.h"
#include "platform/portal/PortalSource.h"
#include "platform/x11/X11Display.h"
#include "platform/x11/X11Windows.h"

namespace {

// In a Wayland session the X root window holds only the XWayland windows, not the desktop.
bool waylandSession() {
  return qgetenv("XDG_SESSION_TYPE") == "wayland" || !qgetenv("WAYLAND_DISPLAY").isEmpty();
}

}  // namespace

std::unique_ptr<Application> createApplication(int& argc, char** argv) {
  requireX11Display();
  const bool wayland = waylandSession();
  if (wayland)
    useXcbInPhysicalPixels();
  else
    useXcbAtTheDesktopScale();
  auto application = std::make_unique<DesktopApplication>(argc, argv);
  DesktopApplication* app = application.get();
  try {
    // The view is an X window either way; on a Wayland desktop the pixels and the pointer come
    // through the desktop portal, and the X display only shows them.
    std::shared_ptr<X11Display> display = openX11Display();
    DisplaySystem system;
    if (wayland) {
      system.source = createPortalSource(
          {[app] { return app->mainForm() ? app->mainForm()->frameGeometry() : QRect(); },
           [app](const QString& message) {
             app->showException(message);
             QCoreApplication::exit(1);
           }});
    } else {
      system.source = createX11Source(display);
    }
    const Drawing drawing = wayland ? Drawing::ClientSide : Drawing::Fastest;
    system.surfaces = [display, drawing] { return createX11Surface(display, drawing); };
    auto windows = std::make_unique<X11Windows>([app] { app->bringForward(); });
    // A native Wayland program reports its boxes from its own window's corner, whose place on
    // the screen no client is told: only programs on XWayland are followed there.
    X11Windows* x11 = windows.get();
    system.attention = createAtSpiAttention(
        [wayland, x11](qint64 pid) { return !wayland || x11->showsWindowOf(pid); });
    system.windows = std::move(windows);
    app->use(std::move(system));
  } catch (const std::exception& e) {
    // Started from a menu, the program has no terminal to tell: say it where the user looks,
    // where Qt can paint a box at all (not on 8-bit screens).
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen && screen->depth() >= 15) app->showException(QString::fromUtf8(e.what()));
    throw;
  }
  return application;
}
