#include "platform/pixels/Stretch.h"

#include <QImage>
#include <algorithm>
#include <bit>
#include <cstring>

namespace {
// QImage::Format_RGB32 wants the unused byte set; the server leaves it undefined.
constexpr std::uint32_t Opaque = 0xff000000u;

// One row, each source pixel written `Z` times: a fixed count lets the compiler unroll it.
template <int Z>
void replicate(const std::uint32_t* __restrict from, std::uint32_t* __restrict to, int pixels) {
  for (int i = 0; i < pixels; ++i) {
    const std::uint32_t v = from[i] | Opaque;
    for (int k = 0; k < Z; ++k) to[i * Z + k] = v;
  }
}

void copyRow(const std::uint32_t* __restrict from, std::uint32_t* __restrict to, int pixels) {
  for (int i = 0; i < pixels; ++i) to[i] = from[i] | Opaque;
}

// The loops that mix run over every byte of the view: where the processor has them, in its
// wider vectors (twice as fast, measured).
#if defined(__x86_64__) && defined(__GNUC__)
#define WIDE_VECTORS __attribute__((target_clones("avx2", "default")))
#else
#define WIDE_VECTORS
#endif

// The mix of a and b, b's share `w` 256ths, rounded. It fits 16 bits, in which the compiler
// vectorises the loops below.
inline std::uint8_t mix(std::uint16_t a, std::uint16_t b, std::uint16_t w) {
  return static_cast<std::uint8_t>(
      static_cast<std::uint16_t>(a * static_cast<std::uint16_t>(256 - w) + b * w + 128) >> 8);
}

// Two rows mixed byte by byte, b's share `w`.
WIDE_VECTORS void mixRows(const std::uint8_t* __restrict a, const std::uint8_t* __restrict b,
                          std::uint8_t* __restrict out, std::size_t bytes, std::uint16_t w) {
  for (std::size_t i = 0; i < bytes; ++i) out[i] = mix(a[i], b[i], w);
}

// The same with a share for each byte.
WIDE_VECTORS void mixBytes(const std::uint8_t* __restrict a, const std::uint8_t* __restrict b,
                           const std::uint16_t* __restrict w, std::uint8_t* __restrict out,
                           std::size_t bytes) {
  for (std::size_t i = 0; i < bytes; ++i) out[i] = mix(a[i], b[i], w[i]);
}

// Pairs of neighbouring greys as loaded from memory, each mixed by its own share.
WIDE_VECTORS void mixPairs(const std::uint16_t* __restrict pairs, const std::uint16_t* __restrict w,
                           std::uint8_t* __restrict out, std::size_t n) {
  constexpr int First = std::endian::native == std::endian::little ? 0 : 8;
  for (std::size_t i = 0; i < n; ++i)
    out[i] = mix((pairs[i] >> First) & 0xff, (pairs[i] >> (8 - First)) & 0xff, w[i]);
}

// Two rows of greys mixed, b's share `w`, as opaque pixels.
WIDE_VECTORS void mixGreys(const std::uint8_t* __restrict a, const std::uint8_t* __restrict b,
                           std::uint32_t* __restrict out, std::size_t n, std::uint16_t w) {
  for (std::size_t i = 0; i < n; ++i) out[i] = Opaque | mix(a[i], b[i], w) * 0x010101u;
}

// One row in `colours`, as filtered() has each pixel: the loop for each kind of colours apart,
// so that the compiler can widen it.
WIDE_VECTORS void recolourRow(const std::uint32_t* __restrict in, std::uint32_t* __restrict out,
                              int n, Colours colours) {
  if (!greys(colours)) {
    for (int x = 0; x < n; ++x) out[x] = filtered(in[x], colours);
    return;
  }
  const std::uint32_t flip = colours == Colours::InvertedGrey ? 0xffu : 0u;
  for (int x = 0; x < n; ++x) {
    const std::uint32_t p = in[x];
    const std::uint32_t y = static_cast<std::uint32_t>(luma(static_cast<int>((p >> 16) & 0xff),
                                                            static_cast<int>((p >> 8) & 0xff),
                                                            static_cast<int>(p & 0xff)));
    out[x] = Opaque | (y ^ flip) * 0x010101u;
  }
}

using RowFunction = void (*)(const std::uint32_t*, std::uint32_t*, int);
constexpr RowFunction Replicators[] = {nullptr,      copyRow,      replicate<2>, replicate<3>,
                                       replicate<4>, replicate<5>, replicate<6>, replicate<7>,
                                       replicate<8>, replicate<9>, replicate<10>};
}  // namespace

void Stretcher::remap(std::vector<int>& map, int destLength, int sourceLength) {
  map.resize(static_cast<std::size_t>(destLength));
  for (int d = 0; d < destLength; ++d) map[d] = nearestSource(d, destLength, sourceLength);
}

void Stretcher::copy(const CapturedPixels& pixels, const Rect& source, QImage& image,
                     const Rect& dest) {
  const Rect clip = dest.intersected({0, 0, image.width(), image.height()});
  if (clip.isEmpty()) return;
  const int sourceWidth = std::max(source.width(), 1);
  const int sourceHeight = std::max(source.height(), 1);
  if (columnsFor_[0] != dest.width() || columnsFor_[1] != sourceWidth) {
    remap(columns_, dest.width(), sourceWidth);
    columnsFor_[0] = dest.width();
    columnsFor_[1] = sourceWidth;
    runs_.clear();
    for (int c : columns_) {
      if (!runs_.empty() && runs_.back().source == c)
        ++runs_.back().count;
      else
        runs_.push_back({c, 1});
    }
    // A whole zoom: every source column shown the same number of times.
    const int zoom = dest.width() / sourceWidth;
    wholeZoom_ = dest.width() % sourceWidth == 0 && zoom < static_cast<int>(std::size(Replicators))
                     ? zoom
                     : 0;
  }
  if (rowsFor_[0] != dest.height() || rowsFor_[1] != sourceHeight) {
    remap(rows_, dest.height(), sourceHeight);
    rowsFor_[0] = dest.height();
    rowsFor_[1] = sourceHeight;
  }

  const Rect& area = pixels.area;
  const bool allColumnsCaptured =
      source.left >= area.left && source.left + sourceWidth <= area.right;
  const auto rowBytes = static_cast<std::size_t>(clip.width()) * sizeof(std::uint32_t);
  int previousSourceY = -1;
  std::uint32_t* previous = nullptr;

  for (int y = clip.top; y < clip.bottom; ++y) {
    auto* out = reinterpret_cast<std::uint32_t*>(image.scanLine(y)) + clip.left;
    const int sourceY = source.top + rows_[y - dest.top];
    if (previous && sourceY == previousSourceY) {
      std::memcpy(out, previous, rowBytes);  // rows repeat Z times at zoom Z
      continue;
    }
    previous = out;
    previousSourceY = sourceY;
    if (sourceY < area.top || sourceY >= area.bottom) {
      std::fill(out, out + clip.width(), Opaque);
      continue;
    }
    const std::uint32_t* in =
        pixels.bits + static_cast<std::ptrdiff_t>(sourceY - area.top) * pixels.stride;
    const int* column = columns_.data() + (clip.left - dest.left);
    const int offset = source.left - area.left;
    if (allColumnsCaptured && clip.left == dest.left && clip.right == dest.right) {
      const std::uint32_t* from = in + offset;
      if (wholeZoom_) {
        Replicators[wholeZoom_](from, out, sourceWidth);
      } else {
        std::uint32_t* to = out;
        for (const Run& run : runs_) {
          const std::uint32_t v = from[run.source] | Opaque;
          for (int k = 0; k < run.count; ++k) *to++ = v;
        }
      }
    } else if (allColumnsCaptured) {
      for (int x = 0; x < clip.width(); ++x) out[x] = in[offset + column[x]] | Opaque;
    } else {
      for (int x = 0; x < clip.width(); ++x) {
        const int sx = offset + column[x];
        out[x] = (sx >= 0 && sx < area.width()) ? (in[sx] | Opaque) : Opaque;
      }
    }
  }
}

bool Stretcher::sample(Taps& taps, int destLength, int sourceLength, int offset, int captured) {
  const int wanted[4] = {destLength, sourceLength, offset, captured};
  if (std::equal(wanted, wanted + 4, taps.madeFor)) return false;
  std::copy(wanted, wanted + 4, taps.madeFor);
  const auto n = static_cast<std::size_t>(destLength);
  taps.pair.resize(n);
  taps.weight.resize(n);
  for (std::size_t d = 0; d < n; ++d) {
    // Pixel centres sit at halves: the point a half left of the centre's is the first tap.
    const auto at = static_cast<int>((2LL * static_cast<long long>(d) + 1) * sourceLength * 256 /
                                     (2LL * destLength)) -
                    128 + offset * 256;
    // at >> 8 rounds down below zero too; a pair off either end is the end pixel twice.
    taps.pair[d] = std::clamp((at >> 8) + 1, 0, captured);
    taps.weight[d] = static_cast<std::uint16_t>(at & 255);
  }
  return true;
}

void Stretcher::smooth(const CapturedPixels& pixels, const Rect& source, QImage& image,
                       const Rect& dest) {
  mixAround<4>(pixels, source, image, dest);
}

void Stretcher::smoothGreys(const CapturedPixels& greys, const Rect& source, QImage& image,
                            const Rect& dest) {
  mixAround<1>(greys, source, image, dest);
}

template <int Bytes>
void Stretcher::mixAround(const CapturedPixels& pixels, const Rect& source, QImage& image,
                          const Rect& dest) {
  const Rect clip = dest.intersected({0, 0, image.width(), image.height()});
  if (clip.isEmpty()) return;
  const Rect& area = pixels.area;
  // Greys go into an image of one byte a pixel where the image is one, else into pixels.
  const bool greyImage = Bytes == 1 && image.format() == QImage::Format_Grayscale8;
  if (area.isEmpty()) {
    for (int y = clip.top; y < clip.bottom; ++y) {
      if (greyImage) {
        std::fill_n(image.scanLine(y) + clip.left, clip.width(), 0);
        continue;
      }
      auto* out = reinterpret_cast<std::uint32_t*>(image.scanLine(y)) + clip.left;
      std::fill(out, out + clip.width(), Opaque);
    }
    return;
  }
  const auto width = static_cast<std::size_t>(clip.width());
  const auto from = static_cast<std::size_t>(clip.left - dest.left);
  if (sample(columnTaps_, dest.width(), std::max(source.width(), 1), source.left - area.left,
             area.width()))
    ++columnTapsMade_;
  const std::size_t weightsFor[3] = {columnTapsMade_, from, width};
  if (Bytes == 4 && !std::equal(weightsFor, weightsFor + 3, byteWeightsFor_)) {
    byteWeights_.resize(width * 4);
    for (std::size_t x = 0; x < width; ++x)
      std::fill_n(byteWeights_.begin() + static_cast<std::ptrdiff_t>(x * 4), 4,
                  columnTaps_.weight[from + x]);
    std::copy(weightsFor, weightsFor + 3, byteWeightsFor_);
  }
  sample(rowTaps_, dest.height(), std::max(source.height(), 1), source.top - area.top,
         area.height());
  const auto captured = static_cast<std::size_t>(area.width());
  padded_.resize(captured + 2);
  left_.resize(width);  // a pixel, or a pair of greys, for each column
  right_.resize(width);
  for (auto& row : mixed_) row.resize((width * Bytes + 3) / 4);
  const int* pair = columnTaps_.pair.data() + from;
  int mixedRow[2] = {-1, -1};
  // A captured row mixed across, kept while the view's rows still read it: at zoom Z each one
  // serves about 2 Z view rows. The row is padded with its end pixels, so that each column
  // reads the two pixels it mixes side by side; they are gathered first, and the mixing itself
  // then runs over whole rows.
  auto across = [&](int row, int keep) -> const std::uint8_t* {
    for (int s = 0; s < 2; ++s)
      if (mixedRow[s] == row) return reinterpret_cast<const std::uint8_t*>(mixed_[s].data());
    const int s = mixedRow[0] == keep ? 1 : 0;
    auto* mixed = reinterpret_cast<std::uint8_t*>(mixed_[s].data());
    mixedRow[s] = row;
    const std::uint32_t* in = pixels.bits + static_cast<std::ptrdiff_t>(row) * pixels.stride;
    if constexpr (Bytes == 4) {
      std::uint32_t* p = padded_.data();
      for (std::size_t x = 0; x < captured; ++x) p[x + 1] = in[x] | Opaque;
      p[0] = p[1];
      p[captured + 1] = p[captured];
      for (std::size_t x = 0; x < width; ++x) {
        left_[x] = p[pair[x]];
        right_[x] = p[pair[x] + 1];
      }
      mixBytes(reinterpret_cast<const std::uint8_t*>(left_.data()),
               reinterpret_cast<const std::uint8_t*>(right_.data()), byteWeights_.data(), mixed,
               width * 4);
    } else {
      auto* p = reinterpret_cast<std::uint8_t*>(padded_.data());
      for (std::size_t x = 0; x < captured; ++x)  // a grey's blue is its red and green too
        p[x + 1] = static_cast<std::uint8_t>(in[x]);
      p[0] = p[1];
      p[captured + 1] = p[captured];
      auto* pairs = reinterpret_cast<std::uint16_t*>(left_.data());
      for (std::size_t x = 0; x < width; ++x) std::memcpy(pairs + x, p + pair[x], 2);
      mixPairs(pairs, columnTaps_.weight.data() + from, mixed, width);
    }
    return mixed;
  };
  const int lastRow = area.height() - 1;
  for (int y = clip.top; y < clip.bottom; ++y) {
    const auto r = static_cast<std::size_t>(y - dest.top);
    const int upper = std::max(rowTaps_.pair[r] - 1, 0);
    const int lower = std::min(rowTaps_.pair[r], lastRow);
    // A row that mixes nothing in is the row above it mixed across.
    const std::uint16_t weight = upper == lower ? 0 : rowTaps_.weight[r];
    const std::uint8_t* a = across(upper, lower);
    const std::uint8_t* b = weight == 0 ? a : across(lower, upper);
    std::uint8_t* out =
        image.scanLine(y) + static_cast<std::ptrdiff_t>(clip.left) * (greyImage ? 1 : 4);
    if (Bytes == 4 || greyImage) {
      if (weight == 0)
        std::memcpy(out, a, width * Bytes);
      else
        mixRows(a, b, out, width * Bytes, weight);
    } else {
      mixGreys(a, b, reinterpret_cast<std::uint32_t*>(out), width, weight);
    }
  }
}

CapturedPixels recoloured(const CapturedPixels& pixels, Colours colours,
                          std::vector<std::uint32_t>& buffer) {
  const Rect& area = pixels.area;
  if (colours == Colours::Normal || !pixels.bits || area.isEmpty()) return pixels;
  const int w = area.width();
  buffer.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(area.height()));
  for (int y = 0; y < area.height(); ++y) {
    const std::uint32_t* in = pixels.bits + static_cast<std::ptrdiff_t>(y) * pixels.stride;
    std::uint32_t* out = buffer.data() + static_cast<std::ptrdiff_t>(y) * w;
    recolourRow(in, out, w, colours);
  }
  return {buffer.data(), w, area};
}
