#pragma once

#include <QString>
#include <QtGlobal>
#include <functional>
#include <memory>

#include "platform/system/TopLevelWindows.h"

// The top-level windows of the X display, and this program's own hidden application window
// (class "TApplication", titled with the application title), on a connection of their own.
// Requests to bring the program forward arrive as client messages on the hidden window.
class X11Windows final : public TopLevelWindows {
 public:
  // `bringForward` runs for every request that reaches this program's hidden window.
  explicit X11Windows(std::function<void()> bringForward);
  ~X11Windows() override;

  void setApplicationTitle(const QString& title) override;

  void enumerate(const std::function<bool(WindowHandle)>& visit) override;
  std::uint32_t owningThread(WindowHandle window) override;
  QByteArray className(WindowHandle window, int limit) override;
  QByteArray title(WindowHandle window, int limit) override;
  void setForeground(WindowHandle window) override;
  void show(WindowHandle window, int command) override;
  // Whether the process has a top-level window on this display (by its _NET_WM_PID).
  bool showsWindowOf(qint64 pid);

 private:
  struct Impl;
  std::unique_ptr<Impl> d_;
};
