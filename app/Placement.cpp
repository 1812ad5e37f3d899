#include "app/Placement.h"

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
  if (screen.right < bounds.x() + bounds.width()) p.setX(screen.right - bounds.width());
  if (screen.bottom < bounds.y() + bounds.height()) p.setY(screen.bottom - bounds.height());
  return p;
}
