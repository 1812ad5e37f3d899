#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <chrono>

#include "app/Magnify.h"
#include "tests/E2E.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr Rect Screen{0, 0, 1024, 768};

double msSince(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// The magnifier rests while nothing moves on the screen; whatever moves must show as promptly
// as ever. On a server that reports changes (DAMAGE and XInput 2.2) and on one without DAMAGE,
// where every tick looks again.
class StillScreenOnX : public Magnifier, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override { start(options()); }

  Options options() const {
    Options o;
    if (!GetParam()) o.serverOptions = {QStringLiteral("-extension"), QStringLiteral("DAMAGE")};
    return o;
  }

  Rect expected(QPoint p, int zoom = 3) {
    const QRect v = viewOnScreen();
    return sourceRect(p, v.width(), v.height(), zoom, Screen);
  }

  // Long enough for the magnifier to come to rest. A pause, not a wait: what follows holds
  // whether it has come to rest or not, and only the test's point is lost if it has not.
  static void stayStill() { sleepMs(400); }
};

TEST_P(StillScreenOnX, AStillPointerOverAStillPictureKeepsShowingIt) {
  x->movePointer(300, 300);
  ASSERT_TRUE(viewShows(expected({300, 300})));
  stayStill();
  EXPECT_TRUE(viewShows(expected({300, 300}), 0));
  stayStill();
  EXPECT_TRUE(viewShows(expected({300, 300}), 0));
}

TEST_P(StillScreenOnX, EveryFrameOfAnAnimationUnderAStillPointerShows) {
  x->movePointer(300, 300);
  ASSERT_TRUE(viewShows(expected({300, 300})));
  const Rect source = expected({300, 300});
  const QRect view = viewOnScreen();
  // A 10 x 10 square at (296, 296), as the view shows its middle.
  const QPoint shown(view.x() + (301 - source.left) * view.width() / source.width(),
                     view.y() + (301 - source.top) * view.height() / source.height());
  double slowest = 0;
  for (int frame = 0; frame < 20; ++frame) {
    if (frame % 5 == 0) stayStill();  // some frames come to a resting magnifier
    const QRgb colour = 0xff000000u | static_cast<QRgb>(0x102030 * (frame + 1));
    x->paint(x->root(), {296, 296, 10, 10}, colour);
    const auto painted = Clock::now();
    QRgb seen = 0;
    waitUntil([&] { return (seen = x->grab(QRect(shown, QSize(1, 1))).pixel(0, 0)) == colour; });
    ASSERT_EQ(seen, colour) << "frame " << frame;
    slowest = std::max(slowest, msSince(painted));
  }
  std::printf("slowest frame shown after %.1f ms\n", slowest);
}

TEST_P(StillScreenOnX, APointerMovedByADeviceOrByAProgramShows) {
  x->movePointer(300, 300);
  ASSERT_TRUE(viewShows(expected({300, 300})));
  stayStill();
  auto moved = Clock::now();
  x->movePointer(400, 500);
  ASSERT_TRUE(viewShows(expected({400, 500}))) << "device motion";
  const double motion = msSince(moved);
  std::printf("device motion shown after %.1f ms\n", motion);
  RecordProperty("motion_shown_ms", static_cast<int>(motion));

  stayStill();
  moved = Clock::now();
  x->warpPointer(200, 600);  // no device moved: only a look at the pointer finds it
  ASSERT_TRUE(viewShows(expected({200, 600}))) << "a warp";
  const double warp = msSince(moved);
  std::printf("warp shown after %.1f ms\n", warp);
  RecordProperty("warp_shown_ms", static_cast<int>(warp));
}

TEST_P(StillScreenOnX, ZoomFreezeAndTheBlankViewWorkFromRest) {
  x->movePointer(300, 300);
  ASSERT_TRUE(viewShows(expected({300, 300})));
  stayStill();
  const QPoint plus = plusButton();
  x->click(1, plus.x(), plus.y());
  x->movePointer(300, 300);
  stayStill();
  EXPECT_TRUE(viewShows(expected({300, 300}, 4))) << "zoom 4";

  ASSERT_TRUE(freeze({296, 296}));
  stayStill();
  x->movePointer(600, 500);
  ASSERT_TRUE(waitForTick({296, 296})) << "a tick after the pointer moved";
  EXPECT_TRUE(viewShows(expected({300, 300}, 4), 0)) << "frozen";
  x->pressKeys({keysym::Control_L, keysym::Insert});
  EXPECT_TRUE(viewShows(expected({600, 500}, 4))) << "released";

  stayStill();
  const QRect view = viewOnScreen();
  x->movePointer(view.center().x(), view.center().y());
  EXPECT_TRUE(viewIsBlank()) << "over its own window";
}

TEST_P(StillScreenOnX, TheWindowMovedOrResizedUnderAStillPointer) {
  x->movePointer(300, 300);
  ASSERT_TRUE(viewShows(expected({300, 300})));
  stayStill();
  // Without a window manager the window is where the server has it: move it as one would.
  x->configure(window.id, {600, 300, window.client.width(), window.client.height()});
  EXPECT_TRUE(viewShows(expected({300, 300}))) << "moved";
  stayStill();
  x->configure(window.id, {600, 300, window.client.width() + 100, window.client.height() + 60});
  EXPECT_TRUE(viewShows(expected({300, 300}))) << "resized";
}

TEST_P(StillScreenOnX, AViewThatTakesInItsOwnWindowKeepsFollowingItself) {
  // A view of 276 x 210 pixels, an exact enlargement at zoom 3, with its own left part (its
  // frame, the view, the panel) inside the source.
  program->stop();
  QFile ini(programFolder() + QStringLiteral("/Vendrel/Vendrel.ini"));
  ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
  ini.write("[MainForm]\r\nLeft=746\r\nTop=39\r\nWidth=278\r\nHeight=295\r\n");
  ini.close();
  program = launch();
  ASSERT_TRUE(waitForMagnifier());
  const QRect view = viewOnScreen();
  ASSERT_EQ(view, QRect(747, 40, 276, 210));

  x->movePointer(740, 150);
  const Rect source = expected({740, 150});
  ASSERT_EQ(source, (Rect{694, 115, 786, 185}));
  // Each tick enlarges what the last one drew: the view settles on the picture that is its own
  // enlargement, and it gets there only if it keeps drawing while nothing else changes.
  const QRect both(694, 40, 1024 - 694, 210 + 40);
  QString last;
  waitUntil([&] {
    const QImage screen = x->grab(both);
    last.clear();
    for (int y = 0; y < view.height() && last.isEmpty(); ++y)
      for (int vx = 0; vx < view.width(); ++vx) {
        const QRgb want =
            screen.pixel(source.left - both.x() + vx / 3, source.top - both.y() + y / 3);
        if (screen.pixel(view.x() - both.x() + vx, view.y() - both.y() + y) != want) {
          last = QStringLiteral("view (%1,%2) is not its source pixel").arg(vx).arg(y);
          break;
        }
      }
    return last.isEmpty();
  });
  EXPECT_TRUE(last.isEmpty()) << last.toStdString();
}

INSTANTIATE_TEST_SUITE_P(, StillScreenOnX, ::testing::Bool(), [](const auto& info) {
  return info.param ? "reported" : "withoutDamage";
});

}  // namespace
