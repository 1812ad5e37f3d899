#include "tests/Enlargement.h"

#include <algorithm>
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
