#pragma once

#include <cstdint>
#include <vector>

#include "platform/pixels/CapturedPixels.h"
#include "platform/pixels/Rect.h"

class QImage;

// Index of the source pixel that destination pixel `d` of `destLength` shows when
// `sourceLength` pixels are stretched over it: the one under the destination pixel's centre
// (nearest neighbour, no blending), as the X server's RENDER samples too.
constexpr int nearestSource(int d, int destLength, int sourceLength) {
  return static_cast<int>((2LL * d + 1) * sourceLength / (2LL * destLength));
}

// Nearest-neighbour enlargement of a desktop rectangle into an image. Keeps its column and
// row maps between calls, so a steady view size costs no allocation.
class Stretcher {
 public:
  // Fills `dest` of `image` from `source`; the parts of `source` that `pixels` does not cover
  // (off the screen) are black. A zero-wide or zero-high source shows its first column or row.
  void copy(const CapturedPixels& pixels, const Rect& source, QImage& image, const Rect& dest);

 private:
  static void remap(std::vector<int>& map, int destLength, int sourceLength);

  // Consecutive view columns that show the same source column, left to right: replicating a
  // pixel `count` times is as cheap as copying it.
  struct Run {
    int source;
    int count;
  };

  std::vector<int> columns_;
  std::vector<Run> runs_;
  int wholeZoom_ = 0;  // the zoom when the view is a whole multiple of the source, else 0
  std::vector<int> rows_;
  int columnsFor_[2] = {-1, -1};
  int rowsFor_[2] = {-1, -1};
};
