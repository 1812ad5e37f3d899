// Runs the magnifier on a virtual X server over a sample picture and saves screenshots of its
// window: `vendrel-demo PROGRAM OUTPUT-FOLDER`. Beside each, the whole screen at the same
// moment, with the pointer and the rectangle the view enlarges marked on it. Prints the path of
// every picture it saves. Last, one picture of the window on a screen twice as dense (200 %).
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPen>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <stdexcept>

#include "app/Magnify.h"
#include "tools/XSession.h"

namespace {

QImage samplePicture(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  QPainter p(&image);
  QLinearGradient sky(0, 0, width, height);
  sky.setColorAt(0, QColor(250, 250, 245));
  sky.setColorAt(1, QColor(205, 225, 245));
  p.fillRect(image.rect(), sky);
  p.setPen(Qt::black);
  int y = 30;
  for (int px : {9, 11, 13, 16, 22}) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(px);
    p.setFont(font);
    p.drawText(20, y,
               QStringLiteral("Вендрел — экранная лупа: мелкий текст %1 px, 0123456789").arg(px));
    y += px + 14;
  }
  const QColor colours[] = {Qt::red, Qt::green, Qt::blue, Qt::cyan, Qt::magenta, Qt::yellow};
  for (int i = 0; i < 6; ++i) p.fillRect(20 + i * 60, y + 10, 50, 50, colours[i]);
  p.setPen(QPen(Qt::black, 1));
  for (int i = 0; i < 40; ++i) p.drawLine(420 + i * 4, y + 10, 420 + i * 4, y + 60);
  p.setPen(QPen(QColor(200, 40, 40), 1));
  p.drawEllipse(QPoint(width / 2, height * 2 / 3), 120, 80);
  return image;
}

}  // namespace

int main(int argc, char* argv[]) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: vendrel-demo PROGRAM OUTPUT-FOLDER\n");
    return 2;
  }
  const QString program = QString::fromLocal8Bit(argv[1]);
  const QDir out(QString::fromLocal8Bit(argv[2]));
  QDir().mkpath(out.path());
  try {
    VirtualScreen screen(1024, 768);
    XSession x(screen.display());
    x.setRootPicture(samplePicture(1024, 768));
    x.movePointer(150, 40);
    // An X11 session's environment, whatever session this runs in.
    const QStringList session{QStringLiteral("DISPLAY=") + screen.display(),
                              QStringLiteral("WAYLAND_DISPLAY"),
                              QStringLiteral("XDG_SESSION_TYPE=x11")};
    ChildProcess vendrel(program, {}, session);
    auto window = x.waitForWindow(QStringLiteral("Вендрел"), 10000);
    if (!window) {
      std::fprintf(stderr, "vendrel-demo: the magnifier window did not appear\n");
      return 1;
    }
    QRect client = window->client;
    QRect view(client.x() + 1, client.y() + 1, client.width() - 2, client.height() - 83 - 2);
    // One grab of the whole screen: the window's picture is cut from it, so both show the same
    // moment.
    auto shot = [&](const QString& name, int zoom, QPoint spot) {
      sleepMs(300);
      const QPoint pointer = x.pointer();
      QImage screen = x.grab(QRect(QPoint(0, 0), x.screenSize()));
      const QString path = out.absoluteFilePath(name + QStringLiteral(".png"));
      screen.copy(client).save(path);
      std::printf("%s\n", path.toLocal8Bit().constData());

      const Rect s = sourceRect(spot, view.width(), view.height(), zoom,
                                {0, 0, screen.width(), screen.height()});
      QPainter p(&screen);
      p.setRenderHint(QPainter::Antialiasing, false);
      p.setPen(QPen(QColor(220, 0, 0), 2));
      p.drawRect(QRect(s.left - 1, s.top - 1, s.width() + 1, s.height() + 1));
      p.setPen(QPen(QColor(0, 90, 255), 2));
      p.drawLine(pointer - QPoint(12, 0), pointer + QPoint(12, 0));
      p.drawLine(pointer - QPoint(0, 12), pointer + QPoint(0, 12));
      p.drawEllipse(pointer, 5, 5);
      p.setPen(Qt::black);
      QFont font(QStringLiteral("DejaVu Sans"));
      font.setPixelSize(13);
      p.setFont(font);
      const QString note = QStringLiteral("pointer %1,%2   source %3x%4 at %5,%6   zoom %7")
                               .arg(pointer.x())
                               .arg(pointer.y())
                               .arg(s.width())
                               .arg(s.height())
                               .arg(s.left)
                               .arg(s.top)
                               .arg(zoom);
      p.fillRect(QRect(8, screen.height() - 26, 420, 20), QColor(255, 255, 255, 220));
      p.drawText(QPoint(14, screen.height() - 11), note);
      p.end();
      const QString whole = out.absoluteFilePath(name + QStringLiteral("-screen.png"));
      screen.save(whole);
      std::printf("%s\n", whole.toLocal8Bit().constData());
    };
    const QPoint plus = client.topLeft() + QPoint(216 + 24, client.height() - 83 + 7 + 24);
    const QPoint minus = client.topLeft() + QPoint(8 + 24, client.height() - 83 + 7 + 24);

    x.movePointer(150, 40);
    shot(QStringLiteral("vendrel-zoom3-text"), 3, {150, 40});
    x.click(1, plus.x(), plus.y());
    x.movePointer(60, 95);
    shot(QStringLiteral("vendrel-zoom4-text"), 4, {60, 95});
    x.pressKeys({keysym::Control_L, 'i'});  // white text on black, and back
    shot(QStringLiteral("vendrel-zoom4-inverted"), 4, {60, 95});
    x.pressKeys({keysym::Control_L, 'i'});
    for (int i = 0; i < 6; ++i) x.click(1, plus.x(), plus.y());
    x.movePointer(440, 190);
    shot(QStringLiteral("vendrel-zoom10-lines"), 10, {440, 190});
    for (int i = 0; i < 9; ++i) x.click(1, minus.x(), minus.y());
    x.movePointer(0, 767);
    shot(QStringLiteral("vendrel-zoom1-corner"), 1, {0, 767});
    x.click(1, plus.x(), plus.y());
    x.movePointer(512, 440);
    x.pressKeys({keysym::Control_L, keysym::Insert});
    sleepMs(200);
    x.movePointer(900, 600);
    shot(QStringLiteral("vendrel-zoom2-frozen"), 2, {512, 440});  // the spot frozen before

    // Smooth, at zoom 4 over the text: a copy of its own, so that the settings it starts with
    // are nobody's.
    vendrel.stop();
    QTemporaryDir folder;
    const QString copy = folder.filePath(QStringLiteral("vendrel"));
    QDir(folder.path()).mkdir(QStringLiteral("Vendrel"));
    QFile ini(folder.filePath(QStringLiteral("Vendrel/Vendrel.ini")));
    if (!QFile::copy(program, copy) || !ini.open(QIODevice::WriteOnly) ||
        ini.write("[TrackBar]\r\nPosition=4\r\n[View]\r\nSmooth=1\r\n") < 0 || !ini.flush())
      throw std::runtime_error("cannot set up a copy of the program");
    ChildProcess smooth(copy, {}, session);
    window = x.waitForWindow(QStringLiteral("Вендрел"), 10000);
    if (!window) throw std::runtime_error("the smooth copy's window did not appear");
    client = window->client;
    view = QRect(client.x() + 1, client.y() + 1, client.width() - 2, client.height() - 83 - 2);
    x.movePointer(60, 95);
    shot(QStringLiteral("vendrel-zoom4-smooth"), 4, {60, 95});
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vendrel-demo: %s\n", e.what());
    return 1;
  }
  try {
    // A screen twice as dense, set up as desktops set one up at 200 %: the window, its panel
    // and texts twice as large, the view still one device pixel per enlarged pixel part.
    VirtualScreen screen(2048, 1536);
    XSession x(screen.display());
    x.setRootPicture(samplePicture(2048, 1536));
    QProcess xrdb;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), screen.display());
    xrdb.setProcessEnvironment(env);
    xrdb.start(QStringLiteral("xrdb"), {QStringLiteral("-nocpp"), QStringLiteral("-merge")});
    xrdb.write("Xft.dpi: 192\n");
    xrdb.closeWriteChannel();
    if (!xrdb.waitForFinished(10000) || xrdb.exitCode() != 0)
      throw std::runtime_error("xrdb could not set Xft.dpi");
    x.movePointer(300, 80);
    ChildProcess vendrel(
        program, {},
        {QStringLiteral("DISPLAY=") + screen.display(), QStringLiteral("WAYLAND_DISPLAY"),
         QStringLiteral("XDG_SESSION_TYPE=x11")});
    auto window = x.waitForWindow(QStringLiteral("Вендрел"), 10000);
    if (!window) throw std::runtime_error("the magnifier window did not appear at 2x");
    const QRect client = window->client;
    const QPoint minus = client.topLeft() + QPoint(2 * (8 + 24), client.height() - 2 * (83 - 31));
    const QPoint plus = minus + QPoint(2 * (216 - 8), 0);
    for (int i = 0; i < 9; ++i) x.click(1, minus.x(), minus.y());
    x.click(1, plus.x(), plus.y());
    x.click(1, plus.x(), plus.y());
    x.movePointer(300, 80);
    sleepMs(500);
    const QString path = out.absoluteFilePath(QStringLiteral("vendrel-zoom3-2x.png"));
    x.grab(client).save(path);
    std::printf("%s\n", path.toLocal8Bit().constData());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vendrel-demo: %s\n", e.what());
    return 1;
  }
  return 0;
}
