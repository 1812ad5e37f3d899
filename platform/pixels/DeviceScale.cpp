#include "platform/pixels/DeviceScale.h"

#include <QGuiApplication>
#include <QScreen>

namespace {

int scaled(int length, qreal by) {
  return qRound(length * by);
}

}  // namespace

Rect toDevice(const QRect& logical, QPoint screenOrigin, qreal scale) {
  const int left = screenOrigin.x() + scaled(logical.x() - screenOrigin.x(), scale);
  const int top = screenOrigin.y() + scaled(logical.y() - screenOrigin.y(), scale);
  return {left, top, left + scaled(logical.width(), scale), top + scaled(logical.height(), scale)};
}

Rect toLogical(const Rect& device, QPoint screenOrigin, qreal scale) {
  const int left = screenOrigin.x() + scaled(device.left - screenOrigin.x(), 1 / scale);
  const int top = screenOrigin.y() + scaled(device.top - screenOrigin.y(), 1 / scale);
  return {left, top, left + scaled(device.width(), 1 / scale),
          top + scaled(device.height(), 1 / scale)};
}

QSize toDevice(QSize logical, qreal scale) {
  return {scaled(logical.width(), scale), scaled(logical.height(), scale)};
}

void screensInDevicePixels(std::vector<Rect>& monitors) {
  monitors.clear();
  auto add = [&monitors](const QScreen* s) {
    // Qt's screens are logical; the pointer and the desktop's pixels are not.
    const QRect g = s->geometry();
    monitors.push_back(toDevice(g, g.topLeft(), s->devicePixelRatio()));
  };
  const QScreen* primary = QGuiApplication::primaryScreen();
  if (primary) add(primary);
  for (const QScreen* s : QGuiApplication::screens())
    if (s != primary) add(s);
}
