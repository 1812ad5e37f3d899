#include "app/Magnify.h"

#include "platform/forms/Keys.h"

Rect clampArea(QPoint point, const std::vector<Rect>& monitors) {
  for (const Rect& m : monitors)
    if (m.contains(point.x(), point.y())) return m;
  return monitors.front();
}

namespace {

// Moves the span [low, high), 2 x half long, inside [areaLow, areaHigh): the low edge first,
// then the high one, so a span longer than the area ends up at its high edge.
void clampSpan(int& low, int& high, int half, int areaLow, int areaHigh) {
  if (low < areaLow) {
    low = areaLow;
    high = areaLow + 2 * half;
  }
  if (high > areaHigh) {
    high = areaHigh;
    low = areaHigh - 2 * half;
  }
}

}  // namespace

Rect sourceRect(QPoint point, int viewWidth, int viewHeight, int zoom, const Rect& area) {
  const int halfW = (viewWidth / zoom) / 2;
  const int halfH = (viewHeight / zoom) / 2;
  Rect s{point.x() - halfW, point.y() - halfH, point.x() + halfW, point.y() + halfH};
  clampSpan(s.left, s.right, halfW, area.left, area.right);
  clampSpan(s.top, s.bottom, halfH, area.top, area.bottom);
  return s;
}

QPoint trackedPoint(bool frozen, QPoint& frozenPoint, QPoint pointer, int noPosition) {
  if (!frozen) return pointer;
  if (frozenPoint.x() == noPosition && frozenPoint.y() == noPosition) {
    frozenPoint = pointer;
    return pointer;
  }
  return frozenPoint;
}

bool isFreezeKey(int key, bool ctrlHeld) {
  return ctrlHeld && key == vk::Insert;
}
