#include <gtest/gtest.h>
#include <signal.h>

#include <QProcess>

#include "app/Magnify.h"
#include "tests/E2E.h"

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
