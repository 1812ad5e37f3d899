#pragma once

#include <QRect>
#include <QSize>

#include <vector>

#include "platform/pixels/Rect.h"

// Qt lays windows out in logical pixels, which the desktop's scale (Xft.dpi, QT_SCALE_FACTOR,
// QT_SCREEN_SCALE_FACTORS) makes larger than the device pixels that X speaks: the pointer, the
// monitors, the view's drawing. A screen's top-left corner is the same in both; within it,
// device lengths are logical lengths times its scale, rounded as Qt rounds them.

Rect toDevice(const QRect& logical, QPoint screenOrigin, qreal scale);
Rect toLogical(const Rect& device, QPoint screenOrigin, qreal scale);
QSize toDevice(QSize logical, qreal scale);

// The monitors as Qt's screens tell them, in device pixels, the primary first: into `monitors`,
// refilled in place (no allocation once it has its size). Empty when Qt knows of none.
void screensInDevicePixels(std::vector<Rect>& monitors);
