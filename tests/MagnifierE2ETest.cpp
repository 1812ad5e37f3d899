#include <gtest/gtest.h>
#include <signal.h>

#include <QDir>
#include <QFile>
#include <QProcess>

#include "app/Magnify.h"
#include "tests/E2E.h"
#include "tests/Enlargement.h"

namespace {

constexpr Rect Screen{0, 0, 1024, 768};

class MagnifierOnX : public Magnifier {
 protected:
  Rect expected(QPoint p, int zoom) {
    const QRect v = viewOnScreen();
    return sourceRect(p, v.width(), v.height(), zoom, Screen);
  }
  void clickTimes(QPoint button, int times) {
    for (int i = 0; i < times; ++i) x->click(1, button.x(), button.y());
  }
};

TEST_F(MagnifierOnX, ViewIsPixelExactAtEachZoomAndAtTheEdges) {
  start();
  ASSERT_EQ(viewOnScreen(), QRect(744 + 1, 39 + 1, 278, 213));
  struct Step {
    int clicksPlus, clicksMinus, zoom;
  };
  const Step steps[] = {{0, 0, 3}, {1, 0, 4}, {6, 0, 10}, {0, 9, 1}, {1, 0, 2}};
  // Points whose source never takes in the magnifier's own window.
  const QPoint points[] = {{300, 300}, {0, 0}, {1023, 767}, {5, 5}, {600, 0}, {200, 767}};
  for (const Step& s : steps) {
    clickTimes(plusButton(), s.clicksPlus);
    clickTimes(minusButton(), s.clicksMinus);
    for (QPoint p : points) {
      x->movePointer(p.x(), p.y());
      EXPECT_TRUE(viewShows(expected(p, s.zoom)))
          << "zoom " << s.zoom << " at " << p.x() << "," << p.y();
    }
  }
}

TEST_F(MagnifierOnX, CtrlInsertFreezesAndReleases) {
  start();
  x->movePointer(300, 300);
  ASSERT_TRUE(viewShows(expected({300, 300}, 3)));
  ASSERT_TRUE(freeze({296, 296}));
  x->movePointer(600, 500);
  ASSERT_TRUE(waitForTick({296, 296})) << "a tick after the pointer moved";
  EXPECT_TRUE(viewShows(expected({300, 300}, 3), 0)) << "frozen on the first point";
  x->pressKeys({keysym::Control_L, keysym::Insert});
  EXPECT_TRUE(viewShows(expected({600, 500}, 3))) << "sliding again";
}

// What another program finds on the clipboard as a PNG image; null while there is none.
QImage clipboardImage(const QString& display) {
  QProcess xclip;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("DISPLAY"), display);
  xclip.setProcessEnvironment(env);
  xclip.start(QStringLiteral("xclip"),
              {QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-t"),
               QStringLiteral("image/png"), QStringLiteral("-o")});
  if (!xclip.waitForFinished(Patience) || xclip.exitCode() != 0) return {};
  return QImage::fromData(xclip.readAllStandardOutput(), "PNG")
      .convertToFormat(QImage::Format_RGB32);
}

TEST_F(MagnifierOnX, EachColourModeAndSmoothingShowTheSourceAndCtrlCCopiesTheView) {
  // A view of 270 x 210 shows 90 x 70 pixels at zoom 3, a whole scale on the server too; around
  // (300, 300) they cross x = 256, where a pixel's grey differs much from its left neighbour's.
  const QPoint p(300, 300);
  const Rect source{255, 265, 345, 335};
  const QImage desktop = uniquePixelPicture(1024, 768);
  auto startWith = [&](const QByteArray& view) {
    program.reset();
    QFile ini(QDir(programFolder()).filePath(QStringLiteral("Vendrel/Vendrel.ini")));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[MainForm]\r\nLeft=744\r\nTop=39\r\nWidth=272\r\nHeight=295\r\n" + view);
    ini.close();
    program = launch();
    ASSERT_TRUE(waitForMagnifier());
    x->movePointer(p.x(), p.y());
  };
  QString last;
  auto shows = [&](Colours colours) {
    return waitUntil([&] {
      last = checkColours(x->grab(viewOnScreen()), desktop, source, colours);
      return last.isEmpty();
    });
  };
  startServer({});
  placeProgram();
  for (Colours first : {Colours::Normal, Colours::Grey}) {
    startWith(QByteArray("[View]\r\nColours=") + QByteArray::number(static_cast<int>(first)));
    EXPECT_TRUE(shows(first)) << last.toStdString();
    x->pressKeys({keysym::Control_L, 'i'});
    EXPECT_TRUE(shows(inversionOf(first))) << last.toStdString();
    x->pressKeys({keysym::Control_L, 'c'});
    const QImage view = x->grab(viewOnScreen());
    EXPECT_TRUE(waitUntil([&] { return clipboardImage(screen->display()) == view; }))
        << "the clipboard has not the view in colours " << static_cast<int>(inversionOf(first));
  }
  for (Colours colours : {Colours::Normal, Colours::Grey}) {
    startWith("[View]\r\nSmooth=1\r\nColours=" + QByteArray::number(static_cast<int>(colours)));
    QImage shown = desktop;  // the source pixels in the mode's colours, which are mixed
    for (int sy = 0; sy < shown.height(); ++sy)
      for (int sx = 0; sx < shown.width(); ++sx)
        shown.setPixel(sx, sy, filtered(desktop.pixel(sx, sy), colours));
    EXPECT_TRUE(waitUntil([&] {
      last = checkSmooth(x->grab(viewOnScreen()), shown, source);
      return last.isEmpty();
    })) << "colours "
        << static_cast<int>(colours) << ": " << last.toStdString();
  }
}

TEST(MagnifierWithoutDisplay, EndsWithAClearMessage) {
  for (const char* display : {"", ":97"}) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(display));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(VENDREL_BINARY), {});
    ASSERT_TRUE(p.waitForFinished(Patience));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << "no crash";
    EXPECT_EQ(p.exitCode(), 1);
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    EXPECT_TRUE(err.contains(QStringLiteral("X display"))) << err.toStdString();
  }
}

// The program on the display given, as from a menu: no terminal, nothing else set.
bool startOn(QProcess& p, const QString& display) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("DISPLAY"), display);
  p.setProcessEnvironment(env);
  p.start(QStringLiteral(VENDREL_BINARY), {});
  return p.waitForStarted(Patience);
}

TEST(MagnifierOnAScreenOfFewColours, SaysSoInABoxAndOnItsErrorOutput) {
  for (int depth : {16, 15, 8}) {
    VirtualScreen screen(800, 600, {}, depth);
    XSession x(screen.display());
    QProcess p;
    ASSERT_TRUE(startOn(p, screen.display()));
    if (depth >= 15) {
      // Started from a menu there is no terminal: the box is what the user sees.
      const auto box = x.waitForWindow(QStringLiteral("Vendrel"));
      ASSERT_TRUE(box) << depth << "-bit: no box";
      EXPECT_EQ(p.state(), QProcess::Running) << "waits for the box to be closed";
      x.closeWindow(box->id);
    }  // an 8-bit screen is one Qt cannot paint on: only the error output tells
    ASSERT_TRUE(p.waitForFinished(Patience)) << depth << "-bit";
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << depth << "-bit: no crash";
    EXPECT_EQ(p.exitCode(), 1) << depth << "-bit";
    const QString err = QString::fromUtf8(p.readAllStandardError());
    EXPECT_TRUE(err.contains(QStringLiteral("%1 бит").arg(depth))) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("24 или 32"))) << err.toStdString();
  }
}

TEST(MagnifierOnAScreenOfFewColours, ASignalWhileItsBoxIsUpEndsItCleanly) {
  VirtualScreen screen(800, 600, {}, 16);
  XSession x(screen.display());
  QProcess p;
  ASSERT_TRUE(startOn(p, screen.display()));
  ASSERT_TRUE(x.waitForWindow(QStringLiteral("Vendrel"))) << "no box";
  ::kill(static_cast<pid_t>(p.processId()), SIGTERM);  // a logout, say
  ASSERT_TRUE(p.waitForFinished(Patience));
  EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << "killed by the signal";
  EXPECT_EQ(p.exitCode(), 1) << "the start-up failed all the same";
}

}  // namespace
