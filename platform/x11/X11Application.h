#pragma once

#include <memory>

#include "platform/Application.h"

class QApplication;
class HelpViewer;
class X11Windows;
class XdgShell;
class HostSystemInfo;
class QuitSignals;

// The application object of the real program: Qt on its xcb platform, with no high-DPI
// rescaling, and the X11 desktop.
class X11Application final : public Application {
 public:
  // Throws std::runtime_error when no X display can be opened.
  X11Application(int& argc, char** argv);
  ~X11Application() override;

  void setTitle(const QString& title) override;
  void helpCommand(int command, int data) override;
  Desktop& desktop() override { return *desktop_; }
  TopLevelWindows& windows() override;
  Shell& shell() override;
  SystemInfo& system() override;

 private:
  std::unique_ptr<QApplication> qt_;
  std::unique_ptr<Desktop> desktop_;
  std::unique_ptr<HelpViewer> help_;
  std::unique_ptr<X11Windows> windows_;
  std::unique_ptr<XdgShell> shell_;
  std::unique_ptr<HostSystemInfo> system_;
  std::unique_ptr<QuitSignals> signals_;
};
