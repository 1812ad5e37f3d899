#pragma once

#include <QRect>
#include <optional>
#include <vector>

#include "platform/pixels/Rect.h"

// The smallest window that can still be seen and taken hold of. A stored width or height below
// it counts as missing; a window below it is not stored; and a screen below it (a display with
// no monitor switched on) is none to fit the window to.
constexpr int MinimumWindowSize = 32;

// A stored width or height, or `fallback` when it is too small to show.
int storedSize(int stored, int fallback);
bool usableScreen(const Rect& screen);

// A stored coordinate or size within what the X protocol can place a window at (16 bits
// signed). Any other value cannot be a screen position, and once brought within, no sum
// formed from it overflows.
int screenCoordinate(int stored);

// Stored window bounds brought onto the screen (the primary monitor). Each rule leaves a value
// that already fits as it is.
int clampedLeft(int left, const Rect& screen);      // not left of the screen
int clampedTop(int top, const Rect& screen);        // not above it
int clampedWidth(int width, const Rect& screen);    // not wider than it
int clampedHeight(int height, const Rect& screen);  // not higher than it

// Once applied: the window moved left, then up, just enough to end at the screen's right and
// bottom edges.
QPoint keptOnScreen(const QRect& bounds, const Rect& screen);

// Where the window goes when no monitor shows any of it any more (one unplugged, the screen
// shrunk): onto the primary (`monitors`' first) by the rules above, its size kept where it
// fits. Nothing while a monitor still shows part of it.
std::optional<QRect> rescuedBounds(const QRect& window, const std::vector<Rect>& monitors);
