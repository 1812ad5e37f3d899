#pragma once

#include <QRect>

#include "platform/Rect.h"

// Stored window bounds brought onto the screen (the primary monitor). Each rule leaves a value
// that already fits as it is.
int clampedLeft(int left, const Rect& screen);      // not left of the screen
int clampedTop(int top, const Rect& screen);        // not above it
int clampedWidth(int width, const Rect& screen);    // not wider than it
int clampedHeight(int height, const Rect& screen);  // not higher than it

// Once applied: the window moved left, then up, just enough to end at the screen's right and
// bottom edges.
QPoint keptOnScreen(const QRect& bounds, const Rect& screen);
