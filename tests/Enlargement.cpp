#include "tests/Enlargement.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "tools/XSession.h"

namespace {

int reference(int d, int destLength, int sourceLength) {
  return static_cast<int>((2LL * d + 1) * sourceLength / (2LL * destLength));
}

}  // namespace

QString checkEnlargement(const QImage& view, const Rect& source, int screenWidth, Match match) {
  const int sw = std::max(source.width(), 1), sh = std::max(source.height(), 1);
  const int w = view.width(), h = view.height();
  std::vector<int> columns(static_cast<std::size_t>(w)), rows(static_cast<std::size_t>(h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const QPoint got = uniquePixelAt(view.pixel(x, y), screenWidth);
      const QPoint want(source.left + reference(x, w, sw), source.top + reference(y, h, sh));
      const auto where = [&] {
        return QStringLiteral("view (%1,%2) shows (%3,%4), want (%5,%6)")
            .arg(x)
            .arg(y)
            .arg(got.x())
            .arg(got.y())
            .arg(want.x())
            .arg(want.y());
      };
      if (match == Match::Exact) {
        if (got != want) return where();
        continue;
      }
      if (std::abs(got.x() - want.x()) > 1 || std::abs(got.y() - want.y()) > 1) return where();
      if (y == 0) columns[x] = got.x();
      if (x == 0) rows[y] = got.y();
      if (got.x() != columns[x] || got.y() != rows[y])
        return where() + QStringLiteral(": not one source column and row");
    }
  if (match == Match::Nearest) {
    auto coversInOrder = [](const std::vector<int>& m, int first, int length) {
      if (m.front() != first || m.back() != first + length - 1) return false;
      for (std::size_t i = 1; i < m.size(); ++i)
        if (m[i] != m[i - 1] && m[i] != m[i - 1] + 1) return false;  // no gap, no step back
      return true;
    };
    if (!coversInOrder(columns, source.left, sw))
      return QStringLiteral("columns do not run from %1 to %2 in order")
          .arg(source.left)
          .arg(source.left + sw - 1);
    if (!coversInOrder(rows, source.top, sh))
      return QStringLiteral("rows do not run from %1 to %2 in order")
          .arg(source.top)
          .arg(source.top + sh - 1);
  }
  return {};
}

QString checkColours(const QImage& view, const QImage& desktop, const Rect& source,
                     Colours colours) {
  const int sw = std::max(source.width(), 1), sh = std::max(source.height(), 1);
  for (int y = 0; y < view.height(); ++y)
    for (int x = 0; x < view.width(); ++x) {
      const QPoint at(source.left + reference(x, view.width(), sw),
                      source.top + reference(y, view.height(), sh));
      const QRgb want = filtered(desktop.pixel(at), colours);
      if (view.pixel(x, y) != want)
        return QStringLiteral("view (%1,%2) is #%3, want #%4 for (%5,%6)")
            .arg(x)
            .arg(y)
            .arg(view.pixel(x, y) & 0xffffffu, 6, 16, QChar('0'))
            .arg(want & 0xffffffu, 6, 16, QChar('0'))
            .arg(at.x())
            .arg(at.y());
    }
  return {};
}

QString checkSmooth(const QImage& view, const QImage& desktop, const Rect& source) {
  const int sw = std::max(source.width(), 1), sh = std::max(source.height(), 1);
  // The source pixels on either side of a view pixel's centre taken to the source; a point
  // right on a pixel's centre may fall on either side of it in fixed point.
  auto around = [](int d, int destLength, int start, int length, int limit) {
    const double at = start + (d + 0.5) * length / destLength - 0.5;
    return std::pair(std::clamp(static_cast<int>(std::floor(at - 0.01)), 0, limit - 1),
                     std::clamp(static_cast<int>(std::floor(at + 0.01)) + 1, 0, limit - 1));
  };
  int mixed = 0;
  for (int y = 0; y < view.height(); ++y) {
    const auto [top, bottom] = around(y, view.height(), source.top, sh, desktop.height());
    for (int x = 0; x < view.width(); ++x) {
      const auto [left, right] = around(x, view.width(), source.left, sw, desktop.width());
      const QRgb shown = view.pixel(x, y);
      bool isSourcePixel = false;
      int low[3] = {255, 255, 255}, high[3] = {0, 0, 0};
      for (int sy = top; sy <= bottom; ++sy)
        for (int sx = left; sx <= right; ++sx) {
          const QRgb c = desktop.pixel(sx, sy);
          isSourcePixel |= c == shown;
          for (int k = 0; k < 3; ++k) {
            low[k] = std::min(low[k], static_cast<int>(c >> (8 * k)) & 0xff);
            high[k] = std::max(high[k], static_cast<int>(c >> (8 * k)) & 0xff);
          }
        }
      for (int k = 0; k < 3; ++k) {
        const int c = static_cast<int>(shown >> (8 * k)) & 0xff;
        if (c < low[k] || c > high[k])
          return QStringLiteral(
                     "view (%1,%2) is #%3: not between the source pixels (%4..%5, "
                     "%6..%7)")
              .arg(x)
              .arg(y)
              .arg(shown & 0xffffffu, 6, 16, QChar('0'))
              .arg(left)
              .arg(right)
              .arg(top)
              .arg(bottom);
      }
      mixed += !isSourcePixel;
    }
  }
  if (mixed == 0) return QStringLiteral("every view pixel is a source pixel: nothing is smooth");
  return {};
}
