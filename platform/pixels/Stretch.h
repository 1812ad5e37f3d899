#pragma once

#include <cstdint>
#include <vector>

#include "platform/pixels/CapturedPixels.h"
#include "platform/pixels/Rect.h"
#include "platform/pixels/ViewMode.h"

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
  // The same, smooth: each view pixel's centre is taken to the source as above, and the four
  // source pixels around that point are mixed by their nearness to it (bilinear), so that every
  // view pixel lies between them. Beyond the pixels read, their edge repeats.
  void smooth(const CapturedPixels& pixels, const Rect& source, QImage& image, const Rect& dest);
  // The same over pixels whose three channels are equal: one of them mixed stands for all three,
  // in a quarter of the work. Into an image of QImage::Format_Grayscale8, a byte a pixel.
  void smoothGreys(const CapturedPixels& greys, const Rect& source, QImage& image,
                   const Rect& dest);

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

  // For each view column or row, the two captured pixels it mixes and the second one's share
  // in 256ths; kept while the geometry they were made for stays. Pair k is captured pixels
  // k - 1 and k, an end pixel twice beyond the ends.
  struct Taps {
    std::vector<int> pair;
    std::vector<std::uint16_t> weight;
    int madeFor[4] = {-1, -1, -1, -1};
  };
  // For each of `destLength` view pixels, the captured pixels (0 to `captured` - 1, the
  // source starting `offset` pixels into them) around its centre taken to the source; false
  // when `taps` hold them already.
  static bool sample(Taps& taps, int destLength, int sourceLength, int offset, int captured);
  // smooth(), mixing `Bytes` bytes a pixel: its four, or a grey's one.
  template <int Bytes>
  void mixAround(const CapturedPixels& pixels, const Rect& source, QImage& image, const Rect& dest);
  Taps columnTaps_, rowTaps_;
  std::size_t columnTapsMade_ = 0;  // how many times the column taps were made
  // The column weights, once for each byte, of the column taps made for the view columns from
  // `byteWeightsFor_[1]` on, `byteWeightsFor_[2]` of them.
  std::vector<std::uint16_t> byteWeights_;
  std::size_t byteWeightsFor_[3] = {};
  // Rows of bytes: a captured row padded with its end pixels, the pixels each view column
  // mixes, and captured rows mixed across to the view's width.
  std::vector<std::uint32_t> padded_, left_, right_, mixed_[2];
};

// `pixels` in `colours`, written into `buffer`: the pixels the enlargement then reads.
CapturedPixels recoloured(const CapturedPixels& pixels, Colours colours,
                          std::vector<std::uint32_t>& buffer);
