// Renders the application's SVG icon to PNG files of the hicolor sizes:
// `vendrel-render-icon ICON.svg OUT-FOLDER` writes OUT-FOLDER/SIZExSIZE/vendrel.png.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char* argv[]) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: vendrel-render-icon ICON.svg OUT-FOLDER\n");
    return 2;
  }
  QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
  if (!renderer.isValid()) return 1;
  for (int size : {16, 32, 48}) {
    const QString folder =
        QStringLiteral("%1/%2x%2").arg(QString::fromLocal8Bit(argv[2])).arg(size);
    QDir().mkpath(folder);
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer.render(&painter);
    painter.end();
    if (!image.save(folder + QStringLiteral("/vendrel.png"))) return 1;
  }
  return 0;
}
