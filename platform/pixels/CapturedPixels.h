#pragma once

#include <cstdint>

#include "platform/pixels/Rect.h"

// Desktop pixels read into memory: `bits` holds `area` (desktop coordinates) as 32-bit
// XRGB rows `stride` pixels apart.
struct CapturedPixels {
  const std::uint32_t* bits = nullptr;
  int stride = 0;
  Rect area;
};
