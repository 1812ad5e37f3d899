#include "platform/forms/DesktopApplication.h"

#include <QApplication>
#include <QIcon>

#include "platform/forms/HelpViewer.h"
#include "platform/forms/Pictures.h"
#include "platform/forms/Shell.h"
#include "platform/pixels/Attention.h"
#include "platform/pixels/ScreenSource.h"
#include "platform/pixels/ViewSurface.h"
#include "platform/system/QuitSignals.h"
#include "platform/system/SafeWrite.h"
#include "platform/system/SystemInfo.h"
#include "platform/system/TopLevelWindows.h"

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

}  // namespace

DesktopApplication::DesktopApplication(int& argc, char** argv) {
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
  help_ = std::make_unique<HelpViewer>();
  shell_ = std::make_unique<XdgShell>();
  system_ = std::make_unique<HostSystemInfo>();
  failWritesBeyondTheSizeLimit();
}

DesktopApplication::~DesktopApplication() {
  signals_.reset();
  releaseForms();              // before the services and Qt they use go away
  display_.attention.reset();  // it may ask the windows
  display_.windows.reset();
  help_.reset();
  display_.surfaces = nullptr;
  display_.source.reset();
}

void DesktopApplication::use(DisplaySystem display) {
  display_ = std::move(display);
}

void DesktopApplication::setTitle(const QString& title) {
  Application::setTitle(title);
  if (display_.windows) display_.windows->setApplicationTitle(title);
}

Shell& DesktopApplication::shell() {
  return *shell_;
}

SystemInfo& DesktopApplication::system() {
  return *system_;
}

void DesktopApplication::helpCommand(int command, int /*data*/) {
  constexpr int Contents = 3;
  if (command == Contents) help_->showContents(helpFile(), title());
}
