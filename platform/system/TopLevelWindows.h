#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>

// A top-level window of the desktop; 0 is no window.
using WindowHandle = std::uint32_t;

// The desktop's top-level windows, as the single-instance guard walks them.
class TopLevelWindows {
 public:
  virtual ~TopLevelWindows() = default;

  // Calls `visit` for each top-level window, topmost first, until it returns false. The
  // visitor may query and command windows but must not wait on other programs.
  virtual void enumerate(const std::function<bool(WindowHandle)>& visit) = 0;
  // The owning thread, or 0 when the window can no longer be queried.
  virtual std::uint32_t owningThread(WindowHandle window) = 0;
  // Class name and title, cut to `limit` - 1 bytes (the limit counts a terminator).
  virtual QByteArray className(WindowHandle window, int limit) = 0;
  virtual QByteArray title(WindowHandle window, int limit) = 0;
  // Asks the program that owns the window to bring it forward, and to show it with a show
  // command (1: normal, restored if minimised).
  virtual void setForeground(WindowHandle window) = 0;
  virtual void show(WindowHandle window, int command) = 0;

  // The title of this program's own application window, which the guard of another copy looks
  // for; by default it has none.
  virtual void setApplicationTitle(const QString& title) { (void)title; }
};
