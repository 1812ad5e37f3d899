#pragma once

#include <QPoint>
#include <vector>

#include "platform/pixels/Rect.h"

// The area the source rectangle is kept inside: the monitor that holds `point`, or the
// primary monitor (the first) when no monitor holds it.
Rect clampArea(QPoint point, const std::vector<Rect>& monitors);

// The desktop rectangle shown in a W x H view at zoom Z around `point`: (W div Z) div 2 and
// (H div Z) div 2 pixels either side, then moved inside `area`, horizontally first.
Rect sourceRect(QPoint point, int viewWidth, int viewHeight, int zoom, const Rect& area);

// The point the tick magnifies. Sliding: the pointer. Frozen and still pending (both
// coordinates `noPosition`): the pointer, which becomes the frozen point. Held: the frozen point.
QPoint trackedPoint(bool frozen, QPoint& frozenPoint, QPoint pointer, int noPosition);

// Whether a key press toggles freeze mode: Insert with Ctrl held, other modifiers ignored.
bool isFreezeKey(int key, bool ctrlHeld);
