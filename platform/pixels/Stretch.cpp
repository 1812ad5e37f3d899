#include "platform/pixels/Stretch.h"

#include <QImage>
#include <algorithm>
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

// a and b mixed per channel, b's share `w` 256ths, rounded: red and blue in one multiply.
inline std::uint32_t mix(std::uint32_t a, std::uint32_t b, std::uint32_t w) {
  const std::uint32_t rb = ((a & 0xff00ffu) * (256 - w) + (b & 0xff00ffu) * w + 0x800080u) >> 8;
  const std::uint32_t g = ((a & 0x00ff00u) * (256 - w) + (b & 0x00ff00u) * w + 0x008000u) >> 8;
  return (rb & 0xff00ffu) | (g & 0x00ff00u);
}

// Two rows mixed byte by byte, as mix() does: in 16 bits, which the compiler vectorises.
void mixRows(const std::uint8_t* __restrict a, const std::uint8_t* __restrict b,
             std::uint8_t* __restrict out, std::size_t bytes, std::uint16_t w) {
  const auto keep = static_cast<std::uint16_t>(256 - w);
  for (std::size_t i = 0; i < bytes; ++i)
    out[i] =
        static_cast<std::uint8_t>(static_cast<std::uint16_t>(a[i] * keep + b[i] * w + 128) >> 8);
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

void Stretcher::sample(std::vector<Tap>& taps, int destLength, int sourceLength, int offset,
                       int captured) {
  taps.resize(static_cast<std::size_t>(destLength));
  for (int d = 0; d < destLength; ++d) {
    // Pixel centres sit at halves: the point a half left of the centre's is the first tap.
    const auto at = static_cast<int>((2LL * d + 1) * sourceLength * 256 / (2LL * destLength)) -
                    128 + offset * 256;
    const int first = at >> 8;  // rounds down below zero too
    taps[static_cast<std::size_t>(d)] = {std::clamp(first, 0, captured - 1),
                                         std::clamp(first + 1, 0, captured - 1), at & 255};
  }
}

void Stretcher::smooth(const CapturedPixels& pixels, const Rect& source, QImage& image,
                       const Rect& dest) {
  const Rect clip = dest.intersected({0, 0, image.width(), image.height()});
  if (clip.isEmpty()) return;
  const Rect& area = pixels.area;
  if (area.isEmpty()) {
    for (int y = clip.top; y < clip.bottom; ++y) {
      auto* out = reinterpret_cast<std::uint32_t*>(image.scanLine(y)) + clip.left;
      std::fill(out, out + clip.width(), Opaque);
    }
    return;
  }
  sample(columnTaps_, dest.width(), std::max(source.width(), 1), source.left - area.left,
         area.width());
  sample(rowTaps_, dest.height(), std::max(source.height(), 1), source.top - area.top,
         area.height());
  const auto width = static_cast<std::size_t>(clip.width());
  int mixedRow[2] = {-1, -1};
  // A captured row mixed across, kept while the view's rows still read it: at zoom Z each one
  // serves about 2 Z view rows.
  auto across = [&](int row, int keep) -> const std::uint32_t* {
    for (int s = 0; s < 2; ++s)
      if (mixedRow[s] == row) return mixed_[s].data();
    const int s = mixedRow[0] == keep ? 1 : 0;
    mixed_[s].resize(width);
    const std::uint32_t* in = pixels.bits + static_cast<std::ptrdiff_t>(row) * pixels.stride;
    const Tap* tap = columnTaps_.data() + (clip.left - dest.left);
    for (std::size_t x = 0; x < width; ++x)
      mixed_[s][x] =
          mix(in[tap[x].first], in[tap[x].second], static_cast<std::uint32_t>(tap[x].weight)) |
          Opaque;
    mixedRow[s] = row;
    return mixed_[s].data();
  };
  for (int y = clip.top; y < clip.bottom; ++y) {
    const Tap& tap = rowTaps_[static_cast<std::size_t>(y - dest.top)];
    const std::uint32_t* upper = across(tap.first, tap.second);
    const std::uint32_t* lower = across(tap.second, tap.first);
    mixRows(reinterpret_cast<const std::uint8_t*>(upper),
            reinterpret_cast<const std::uint8_t*>(lower),
            image.scanLine(y) + static_cast<std::ptrdiff_t>(clip.left) * 4, width * 4,
            static_cast<std::uint16_t>(tap.weight));
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
    for (int x = 0; x < w; ++x) out[x] = filtered(in[x], colours);
  }
  return {buffer.data(), w, area};
}
