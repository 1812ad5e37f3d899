#include "app/Placement.h"

#include <algorithm>
#include <cstdint>

int screenCoordinate(int stored) {
  return std::clamp(stored, -32768, 32767);
}

int storedSize(int stored, int fallback) {
  return stored < MinimumWindowSize ? fallback : stored;
}

bool usableScreen(const Rect& screen) {
  return screen.width() >= MinimumWindowSize && screen.height() >= MinimumWindowSize;
}

int clampedLeft(int left, const Rect& screen) {
  return left < screen.left ? screen.left : left;
}

int clampedTop(int top, const Rect& screen) {
  return top < screen.top ? screen.top : top;
}

int clampedWidth(int width, const Rect& screen) {
  return width > screen.width() ? screen.width() : width;
}

int clampedHeight(int height, const Rect& screen) {
  return height > screen.height() ? screen.height() : height;
}

QPoint keptOnScreen(const QRect& bounds, const Rect& screen) {
  QPoint p = bounds.topLeft();
  const std::int64_t right = std::int64_t{bounds.x()} + bounds.width();
  const std::int64_t bottom = std::int64_t{bounds.y()} + bounds.height();
  if (screen.right < right) p.setX(screen.right - bounds.width());
  if (screen.bottom < bottom) p.setY(screen.bottom - bounds.height());
  return p;
}

std::optional<QRect> rescuedBounds(const QRect& window, const std::vector<Rect>& monitors) {
  if (monitors.empty() || !usableScreen(monitors.front())) return std::nullopt;
  for (const Rect& m : monitors)
    if (window.intersects(QRect(m.left, m.top, m.width(), m.height()))) return std::nullopt;
  const Rect& screen = monitors.front();
  QRect moved(clampedLeft(window.x(), screen), clampedTop(window.y(), screen),
              clampedWidth(window.width(), screen), clampedHeight(window.height(), screen));
  moved.moveTopLeft(keptOnScreen(moved, screen));
  return moved;
}
