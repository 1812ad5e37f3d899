#pragma once

#include <functional>
#include <memory>

#include "platform/forms/Application.h"

class QApplication;
class HelpViewer;
class XdgShell;
class HostSystemInfo;
class QuitSignals;

// What a display system gives the program: where the pixels and the pointer come from, how they
// reach the view, and the desktop's top-level windows.
struct DisplaySystem {
  std::unique_ptr<ScreenSource> source;
  std::function<std::unique_ptr<ViewSurface>()> surfaces;
  std::unique_ptr<TopLevelWindows> windows;
  std::unique_ptr<Attention> attention;
};

// The application object of the real program: Qt, as the display system has set it up, with the
// desktop's own help viewer, shell and machine facts.
class DesktopApplication final : public Application {
 public:
  // Qt must be told its platform before (the display system's set-up).
  DesktopApplication(int& argc, char** argv);
  ~DesktopApplication() override;

  // Before the first form is made.
  void use(DisplaySystem display);

  void setTitle(const QString& title) override;
  void helpCommand(int command, int data) override;
  ScreenSource& screen() override { return *display_.source; }
  std::unique_ptr<ViewSurface> createSurface() override { return display_.surfaces(); }
  TopLevelWindows& windows() override { return *display_.windows; }
  Attention& attention() override { return *display_.attention; }
  Shell& shell() override;
  SystemInfo& system() override;

 private:
  std::unique_ptr<QApplication> qt_;
  std::unique_ptr<QuitSignals> signals_;
  std::unique_ptr<HelpViewer> help_;
  std::unique_ptr<XdgShell> shell_;
  std::unique_ptr<HostSystemInfo> system_;
  DisplaySystem display_;
};
