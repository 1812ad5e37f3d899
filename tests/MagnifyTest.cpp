#include "app/Magnify.h"

#include <gtest/gtest.h>

#include "platform/forms/Form.h"

namespace {

constexpr Rect Screen1024{0, 0, 1024, 768};

struct SourceCase {
  const char* what;
  QPoint point;
  int w, h, zoom;
  Rect area;
  Rect expected;
};

TEST(SourceRect, HalvesAndClamps) {
  const SourceCase cases[] = {
      {"270x186 zoom 3: 90 x 62 around the point",
       {500, 400},
       270,
       186,
       3,
       Screen1024,
       {455, 369, 545, 431}},
      {"zoom 4: W div 4 = 67, half 33", {500, 400}, 270, 186, 4, Screen1024, {467, 377, 533, 423}},
      {"zoom 1: one to one", {500, 400}, 270, 186, 1, Screen1024, {365, 307, 635, 493}},
      {"zoom 10", {500, 400}, 270, 186, 10, Screen1024, {487, 391, 513, 409}},
      {"near the top-left corner", {5, 5}, 270, 186, 3, Screen1024, {0, 0, 90, 62}},
      {"last column", {1023, 300}, 270, 186, 3, Screen1024, {934, 269, 1024, 331}},
      {"last row", {300, 767}, 270, 186, 3, Screen1024, {255, 706, 345, 768}},
      {"left of the screen", {-300, 300}, 270, 186, 3, Screen1024, {0, 269, 90, 331}},
      {"view narrower than 2 x zoom: no width",
       {500, 400},
       5,
       186,
       3,
       Screen1024,
       {500, 369, 500, 431}},
      {"source wider than the screen: left edge wins last",
       {50, 50},
       270,
       186,
       1,
       {0, 0, 100, 100},
       {-170, -86, 100, 100}},
      {"monitor right of the origin",
       {1030, 5},
       270,
       186,
       3,
       {1024, 0, 2048, 768},
       {1024, 0, 1114, 62}},
      {"monitor left of a primary not at the origin",
       {1000, 700},
       270,
       186,
       3,
       {0, 0, 1024, 768},
       {934, 669, 1024, 731}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(sourceRect(c.point, c.w, c.h, c.zoom, c.area), c.expected) << c.what;
}

TEST(ClampArea, MonitorHoldingThePointElsePrimary) {
  const std::vector<Rect> monitors{{1024, 0, 2048, 768}, {0, 0, 1024, 768}, {2048, 0, 2688, 480}};
  EXPECT_EQ(clampArea({1500, 10}, monitors), monitors[0]);
  EXPECT_EQ(clampArea({1023, 767}, monitors), monitors[1]);
  EXPECT_EQ(clampArea({2048, 479}, monitors), monitors[2]);
  EXPECT_EQ(clampArea({2100, 600}, monitors), monitors[0]) << "in no monitor: the primary";
  EXPECT_EQ(clampArea({-5, 0}, monitors), monitors[0]);
}

TEST(TrackedPoint, SlidingPendingHeld) {
  constexpr int No = -32000;
  QPoint frozen(No, No);
  EXPECT_EQ(trackedPoint(false, frozen, {10, 20}, No), QPoint(10, 20));
  EXPECT_EQ(frozen, QPoint(No, No)) << "sliding captures nothing";

  EXPECT_EQ(trackedPoint(true, frozen, {30, 40}, No), QPoint(30, 40));
  EXPECT_EQ(frozen, QPoint(30, 40)) << "pending captures the pointer";

  EXPECT_EQ(trackedPoint(true, frozen, {99, 99}, No), QPoint(30, 40)) << "held ignores the pointer";
  EXPECT_EQ(frozen, QPoint(30, 40));

  QPoint halfSet(No, 5);  // only both coordinates at the sentinel mean "pending"
  EXPECT_EQ(trackedPoint(true, halfSet, {1, 1}, No), QPoint(No, 5));
}

TEST(FreezeKey, CtrlInsertOnly) {
  EXPECT_TRUE(isFreezeKey(vk::Insert, true));
  EXPECT_FALSE(isFreezeKey(vk::Insert, false));
  EXPECT_FALSE(isFreezeKey(vk::Escape, true));
  EXPECT_FALSE(isFreezeKey(0, true));
}

TEST(VirtualKey, QtKeysToCodes) {
  EXPECT_EQ(virtualKey(Qt::Key_Insert), 45);
  EXPECT_EQ(virtualKey(Qt::Key_Escape), 27);
  EXPECT_EQ(virtualKey(Qt::Key_A), 'A');
  EXPECT_EQ(virtualKey(Qt::Key_7), '7');
  EXPECT_EQ(virtualKey(Qt::Key_Minus), 0)
      << "Qt's code for '-' is 45 too: it must not pass as Insert";
}

}  // namespace
