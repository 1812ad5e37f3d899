#include "platform/pixels/DeviceScale.h"

#include <gtest/gtest.h>

namespace {

TEST(DeviceScale, LogicalAndDeviceAboutTheScreensCornerUndoEachOther) {
  struct Case {
    QRect logical;
    QPoint origin;
    qreal scale;
    Rect device;
  };
  const Case cases[] = {
      {{744, 39, 280, 298}, {0, 0}, 1.0, {744, 39, 1024, 337}},
      {{744, 39, 280, 298}, {0, 0}, 2.0, {1488, 78, 2048, 674}},
      {{100, 50, 280, 298}, {0, 0}, 1.5, {150, 75, 570, 522}},
      {{0, 0, 1, 1}, {0, 0}, 1.25, {0, 0, 1, 1}},
      {{0, 0, 1920, 1080}, {0, 0}, 2.0, {0, 0, 3840, 2160}},
      {{0, 0, 1920, 1200}, {0, 0}, 1.5, {0, 0, 2880, 1800}},
      // A second monitor at 1920: its corner stays where it is, its inside grows.
      {{1920, 0, 100, 100}, {1920, 0}, 2.0, {1920, 0, 2120, 200}},
      {{2020, 10, 100, 100}, {1920, 0}, 2.0, {2120, 20, 2320, 220}},
      {{1920, 0, 1920, 1080}, {1920, 0}, 2.0, {1920, 0, 5760, 2160}},
      {{-500, 0, 100, 100}, {-1000, 0}, 2.0, {0, 0, 200, 200}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(toDevice(c.logical, c.origin, c.scale), c.device)
        << c.logical.x() << "," << c.logical.y() << " x" << c.scale;
    const Rect l = toLogical(c.device, c.origin, c.scale);
    EXPECT_EQ(QRect(l.left, l.top, l.width(), l.height()), c.logical) << "back, x" << c.scale;
  }
}

TEST(DeviceScale, SizesRoundAsQtRoundsThem) {
  EXPECT_EQ(toDevice(QSize(278, 213), 1.0), QSize(278, 213));
  EXPECT_EQ(toDevice(QSize(278, 213), 2.0), QSize(556, 426));
  EXPECT_EQ(toDevice(QSize(278, 213), 1.5), QSize(417, 320));  // 319.5 rounds up
  EXPECT_EQ(toDevice(QSize(278, 213), 1.25), QSize(348, 266));
}

}  // namespace
