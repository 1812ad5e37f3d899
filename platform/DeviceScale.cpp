#include "platform/DeviceScale.h"

#include <QScreen>
#include <QWidget>

namespace {

int scaled(int length, qreal by) {
  return qRound(length * by);
}

QPoint originOf(const QWidget& widget) {
  const QScreen* screen = widget.screen();
  return screen ? screen->geometry().topLeft() : QPoint();
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

Rect toDevice(const QWidget& widget, const QRect& logical) {
  return toDevice(logical, originOf(widget), widget.devicePixelRatioF());
}

Rect toLogical(const QWidget& widget, const Rect& device) {
  return toLogical(device, originOf(widget), widget.devicePixelRatioF());
}
