#pragma once

#include "tools/XSession.h"

// The X server the X11 tests share.
struct OnX {
  static constexpr int ScreenWidth = 800;
  static constexpr int ScreenHeight = 600;
  static VirtualScreen* screen;
  static XSession* x;
};
