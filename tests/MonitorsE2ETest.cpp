#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>

#include "app/Magnify.h"
#include "tests/E2E.h"

namespace {

// Real RandR monitors: "left" 1024 x 768 at the origin and the primary, "right", 800 x 600
// beside it, on a 1824 x 768 screen. The corner below "right" belongs to no monitor, and the
// server keeps the pointer out of it.
constexpr Rect Left{0, 0, 1024, 768};
constexpr Rect Right{1024, 0, 1824, 600};

class MonitorsOnX : public Magnifier {
 protected:
  void startOnMonitors(const QByteArray& settings = {}) {
    if (!settings.isEmpty()) {
      ASSERT_TRUE(QDir(programFolder()).mkpath(QStringLiteral("Vendrel")));
      QFile ini(programFolder() + QStringLiteral("/Vendrel/Vendrel.ini"));
      ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
      ASSERT_EQ(ini.write(settings), settings.size());
    }
    Options options;
    options.width = 1824;
    options.height = 768;
    options.monitors = {{{1024, 768}, {0, 0}, false}, {{800, 600}, {1024, 0}, true}};
    start(options);
  }

  // Runs xrandr on the test's server; true when it succeeded.
  bool xrandr(const QStringList& arguments) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), screen->display());
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("xrandr"), arguments);
    return p.waitForFinished(Patience) && p.exitStatus() == QProcess::NormalExit &&
           p.exitCode() == 0;
  }

  // A third monitor, 800 x 600 at (200, 768), below the other two.
  bool addMonitorBelow() {
    return xrandr({QStringLiteral("--addmode"), QStringLiteral("DUMMY2"),
                   QStringLiteral("800x600")}) &&
           xrandr({QStringLiteral("--output"), QStringLiteral("DUMMY2"), QStringLiteral("--mode"),
                   QStringLiteral("800x600"), QStringLiteral("--pos"), QStringLiteral("200x768")});
  }

  QRect outer() {
    for (const WindowInfo& w : x->topLevels())
      if (w.id == window.id) return w.outer;
    return {};
  }

  // The pointer moved as far towards `p` as the server lets it, and the view checked against
  // `want`, or against the rule for where it landed when `want` is empty.
  void expectViewAt(QPoint p, Rect want, const std::vector<Rect>& monitors) {
    x->movePointer(p.x(), p.y());
    const QPoint at = x->pointer();
    const QRect v = viewOnScreen();
    if (want.isEmpty()) want = sourceRect(at, v.width(), v.height(), 3, clampArea(at, monitors));
    EXPECT_TRUE(viewShows(want)) << "pointer sent to " << p.x() << "," << p.y() << ", landed at "
                                 << at.x() << "," << at.y();
  }
};

TEST_F(MonitorsOnX, WithNoSettingsTheWindowOpensAtThePrimarysTopRight) {
  startOnMonitors();
  if (IsSkipped()) return;
  EXPECT_EQ(outer(), QRect(Right.right - 280, 39, 280, 298));
}

TEST_F(MonitorsOnX, ViewIsPixelExactOnEachMonitorAndAtTheirEdges) {
  startOnMonitors();
  if (IsSkipped()) return;
  // The view is 278 x 213: at zoom 3 the source is 92 x 70 around the pointer.
  const struct {
    QPoint pointer;
    Rect source;
  } cases[] = {
      {{1300, 400}, {1254, 365, 1346, 435}},  // inside the primary
      {{1025, 300}, {1024, 265, 1116, 335}},  // at its left edge: the other monitor stays out
      {{1823, 599}, {1732, 530, 1824, 600}},  // its bottom-right corner
      {{1030, 2}, {1024, 0, 1116, 70}},       // its top-left corner
      {{1020, 300}, {932, 265, 1024, 335}},   // the other monitor, right beside the primary
      {{0, 767}, {0, 698, 92, 768}},          // the other monitor's far corner
      {{1023, 767}, {932, 698, 1024, 768}},   // and its corner below the primary
  };
  for (const auto& c : cases) expectViewAt(c.pointer, c.source, {Right, Left});
  // The corner below the smaller monitor: the server does not let the pointer in, and the view
  // follows wherever it keeps it.
  expectViewAt({1500, 700}, {}, {Right, Left});
  expectViewAt({1200, 767}, {}, {Right, Left});
}

TEST_F(MonitorsOnX, AMonitorAddedOrRemovedWhileRunningIsFollowed) {
  startOnMonitors();
  if (IsSkipped()) return;
  ASSERT_TRUE(addMonitorBelow());
  ASSERT_EQ(x->screenSize(), QSize(1824, 1368));
  coverScreen();
  const Rect below{200, 768, 1000, 1368};
  expectViewAt({600, 1000}, {554, 965, 646, 1035}, {Right, Left, below});
  expectViewAt({205, 1365}, {200, 1298, 292, 1368}, {Right, Left, below});
  expectViewAt({999, 770}, {908, 768, 1000, 838}, {Right, Left, below});

  // Frozen on the new monitor, which then goes: the spot lies on no monitor, so the primary
  // holds the source.
  x->movePointer(600, 1000);
  ASSERT_TRUE(viewShows({554, 965, 646, 1035}));
  ASSERT_TRUE(freeze({596, 996}));
  x->movePointer(1300, 100);
  ASSERT_TRUE(viewShows({554, 965, 646, 1035}));
  ASSERT_TRUE(
      xrandr({QStringLiteral("--output"), QStringLiteral("DUMMY2"), QStringLiteral("--off")}));
  ASSERT_EQ(x->screenSize(), QSize(1824, 768));
  EXPECT_TRUE(viewShows({1024, 530, 1116, 600}));
}

TEST_F(MonitorsOnX, TheWindowOnAMonitorThatGoesOrMovedOntoNoneIsBroughtOntoThePrimary) {
  startOnMonitors();
  if (IsSkipped()) return;
  ASSERT_TRUE(addMonitorBelow());
  x->configure(window.frame, {300, 900, 280, 298});
  ASSERT_TRUE(waitUntil([&] { return outer() == QRect(300, 900, 280, 298); }));
  ASSERT_TRUE(
      xrandr({QStringLiteral("--output"), QStringLiteral("DUMMY2"), QStringLiteral("--off")}));
  ASSERT_TRUE(waitUntil([&] { return outer() == QRect(Right.left, 600 - 298, 280, 298); }))
      << outer().x() << "," << outer().y();

  // Another program moves it into the corner below the smaller monitor.
  x->configure(window.frame, {1300, 620, 280, 298});
  EXPECT_TRUE(waitUntil([&] { return outer() == QRect(1300, 600 - 298, 280, 298); }))
      << outer().x() << "," << outer().y();
}

TEST_F(MonitorsOnX, SwitchingThePrimaryLeavesTheWindowAndTheViewAlone) {
  startOnMonitors();
  if (IsSkipped()) return;
  const QRect before = outer();
  ASSERT_TRUE(
      xrandr({QStringLiteral("--output"), QStringLiteral("DUMMY0"), QStringLiteral("--primary")}));
  sleepMs(300);  // a move, were one to come, would come in this while: none may
  EXPECT_EQ(outer(), before);
  expectViewAt({1025, 300}, {1024, 265, 1116, 335}, {Left, Right});
  expectViewAt({1020, 300}, {932, 265, 1024, 335}, {Left, Right});
}

TEST_F(MonitorsOnX, AStoredPositionOnTheOtherMonitorIsBroughtOntoThePrimary) {
  // Bounds are kept on the primary monitor: a window left on the other one opens at the
  // primary's left edge, at the height it had.
  startOnMonitors("[MainForm]\r\nLeft=100\r\nTop=120\r\nWidth=280\r\nHeight=298\r\n");
  if (IsSkipped()) return;
  EXPECT_EQ(outer(), QRect(Right.left, 120, 280, 298));
}

}  // namespace
