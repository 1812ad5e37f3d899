#pragma once

#include <QRect>
#include <QString>
#include <functional>
#include <memory>
#include <stdexcept>

#include "platform/Desktop.h"

// The desktop of a Wayland session, seen through the desktop portal: the pixels and the pointer
// come from a ScreenCast session's PipeWire streams, while the magnifier's window stays an X11
// window on XWayland (always on top, placed where it is told).

// Why the portal cannot serve, in words for the user.
class DesktopUnavailable : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct PortalHooks {
  std::function<QRect()> windowBounds;         // the main window's outer frame
  std::function<void(const QString&)> giveUp;  // the user or the desktop said no: tell, and end
};

// Whether the program runs in a Wayland session, where the X root window holds only the other
// XWayland windows and not the desktop.
bool waylandSession();

// Takes over the pixels and the pointer from `x11`, which still puts the pictures on the view.
// Throws DesktopUnavailable when the session bus has no portal with ScreenCast, or when its
// portal cannot send the pointer's position with the frames.
std::unique_ptr<Desktop> createPortalDesktop(std::unique_ptr<Desktop> x11, PortalHooks hooks);
