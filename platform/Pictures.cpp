#include "platform/Pictures.h"

#include <QPainter>
#include <QSvgRenderer>

QPixmap picture(const QString& resource, int width, int height) {
  QPixmap pixmap(width, height);
  pixmap.fill(Qt::transparent);
  QSvgRenderer renderer(resource);
  QPainter painter(&pixmap);
  renderer.render(&painter);
  return pixmap;
}

QIcon applicationIcon() {
  QIcon icon;
  for (int size : {16, 32, 48})
    icon.addPixmap(picture(QStringLiteral(":/vendrel.svg"), size, size));
  return icon;
}
