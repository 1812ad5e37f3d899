#pragma once

#include <algorithm>

// A rectangle of screen pixels as (left, top, right, bottom); right and bottom are exclusive,
// so a point is inside when left <= x < right and top <= y < bottom.
struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;

  constexpr int width() const { return right - left; }
  constexpr int height() const { return bottom - top; }
  constexpr bool isEmpty() const { return right <= left || bottom <= top; }
  constexpr bool contains(int x, int y) const {
    return left <= x && x < right && top <= y && y < bottom;
  }
  constexpr Rect intersected(const Rect& o) const {
    return {std::max(left, o.left), std::max(top, o.top), std::min(right, o.right),
            std::min(bottom, o.bottom)};
  }
  friend constexpr bool operator==(const Rect&, const Rect&) = default;
};
