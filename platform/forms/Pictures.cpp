#include "platform/forms/Pictures.h"

#include <QGuiApplication>
#include <QPainter>
#include <QSvgRenderer>

namespace {

QPixmap rendered(const QString& resource, int width, int height, qreal scale) {
  QPixmap pixmap(qRound(width * scale), qRound(height * scale));
  pixmap.setDevicePixelRatio(scale);
  pixmap.fill(Qt::transparent);
  QSvgRenderer renderer(resource);
  QPainter painter(&pixmap);
  renderer.render(&painter, QRectF(0, 0, width, height));
  return pixmap;
}

}  // namespace

QPixmap picture(const QString& resource, int width, int height) {
  // Drawn at the desktop's scale, so that it stays sharp there, and shown at its logical size.
  return rendered(resource, width, height, qApp ? qApp->devicePixelRatio() : 1.0);
}

QIcon applicationIcon() {
  // The window manager and the panels pick the size they want from these, in their own pixels.
  QIcon icon;
  for (int size : {16, 32, 48})
    icon.addPixmap(rendered(QStringLiteral(":/vendrel.svg"), size, size, 1.0));
  return icon;
}
