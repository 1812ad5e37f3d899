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
