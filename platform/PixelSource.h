#pragma once

#include "platform/Rect.h"
#include "platform/Stretch.h"

// Desktop pixels that some part of the platform holds in memory (a screen cast's latest
// frames), for a canvas to enlarge.
class PixelSource {
 public:
  virtual ~PixelSource() = default;
  // The whole desktop: every pixel a capture may ask for lies inside.
  virtual Rect desktopBounds() = 0;
  // Reads `area` (inside desktopBounds(), never empty); parts no monitor shows are black. The
  // pixels stay valid until the next capture.
  virtual CapturedPixels capture(const Rect& area) = 0;
  // Whether `area` holds the pixels its last capture read, so that a view showing them needs
  // no drawing; by default never known.
  virtual bool unchanged(const Rect& area) {
    (void)area;
    return false;
  }
};
