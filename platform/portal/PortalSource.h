#pragma once

#include <QRect>
#include <QString>
#include <functional>
#include <memory>
#include <stdexcept>

#include "platform/pixels/ScreenSource.h"

// The screen of a Wayland session, seen through the desktop portal: the pixels and the pointer
// come from a ScreenCast session's PipeWire streams.

// Why the portal cannot serve, in words for the user.
class DesktopUnavailable : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct PortalHooks {
  std::function<QRect()> windowBounds;         // the main window's outer frame
  std::function<void(const QString&)> giveUp;  // the user or the desktop said no: tell, and end
};

// Throws DesktopUnavailable when the session bus has no portal with ScreenCast, or when its
// portal cannot send the pointer's position with the frames.
std::unique_ptr<ScreenSource> createPortalSource(PortalHooks hooks);
