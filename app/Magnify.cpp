#include "app/Magnify.h"

#include "platform/Form.h"

Rect clampArea(QPoint point, const std::vector<Rect>& monitors) {
  for (const Rect& m : monitors)
    if (m.contains(point.x(), point.y())) return m;
  return monitors.front();
}

Rect sourceRect(QPoint point, int viewWidth, int viewHeight, int zoom, const Rect& area) {
  const int halfW = (viewWidth / zoom) / 2;
  const int halfH = (viewHeight / zoom) / 2;
  Rect s{point.x() - halfW, point.y() - halfH, point.x() + halfW, point.y() + halfH};
  if (s.left < area.left) {
    s.left = area.left;
    s.right = area.left + 2 * halfW;
  }
  if (s.right > area.right) {
    s.right = area.right;
    s.left = area.right - 2 * halfW;
  }
  if (s.top < area.top) {
    s.top = area.top;
    s.bottom = area.top + 2 * halfH;
  }
  if (s.bottom > area.bottom) {
    s.bottom = area.bottom;
    s.top = area.bottom - 2 * halfH;
  }
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

bool isFreezeKey(int key, bool ctrlHeld) { return ctrlHeld && key == vk::Insert; }
