#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include "tests/E2E.h"

namespace {

// The six values as the program wrote them.
struct Written {
  int position = 0, left = 0, top = 0, width = 0, height = 0, visible = -1;
  QRect bounds() const { return {left, top, width, height}; }
};

class SettingsOnX : public Magnifier, public ::testing::WithParamInterface<bool> {
 protected:
  QString iniPath() const { return programFolder() + QStringLiteral("/Vendrel/Vendrel.ini"); }

  Written written() {
    // Only ASCII keys and numbers here, which QSettings reads as well as the program does.
    QSettings ini(iniPath(), QSettings::IniFormat);
    return {ini.value(QStringLiteral("TrackBar/Position"), 0).toInt(),
            ini.value(QStringLiteral("MainForm/Left"), 0).toInt(),
            ini.value(QStringLiteral("MainForm/Top"), 0).toInt(),
            ini.value(QStringLiteral("MainForm/Width"), 0).toInt(),
            ini.value(QStringLiteral("MainForm/Height"), 0).toInt(),
            ini.value(QStringLiteral("ScalePanel/Visible"), -1).toInt()};
  }

  // The window's outer frame as the server has it, once it has settled.
  QRect outerOnServer() {
    QRect last;
    for (int i = 0; i < 50; ++i) {
      sleepMs(40);
      QRect now;
      for (const WindowInfo& w : x->topLevels())
        if (w.id == window.id) now = w.outer;
      if (now == last && now.isValid()) return now;
      last = now;
    }
    return last;
  }

  void closeAndWait() {
    x->closeWindow(window.id);
    const auto status = program->wait(5000);
    ASSERT_TRUE(status) << "the program did not end on close";
    EXPECT_EQ(*status, 0);
  }

  void restart() {
    program = launch();
    auto shown = x->waitForWindow(QStringLiteral("Вендрел (x"), 10000);
    ASSERT_TRUE(shown);
    window = *shown;
  }
};

TEST_P(SettingsOnX, BoundsComeBackWithoutDrift) {
  const bool wm = GetParam();
  start({.windowManager = wm});
  QRect outer = outerOnServer();
  EXPECT_EQ(outer, QRect(744, 39, 280, 298)) << "defaults, outer frame included";

  if (wm) {  // move and resize with the window manager's Alt drags
    const QPoint middle = outer.center();
    x->drag(1, middle, middle + QPoint(-300, 120), true);
    outer = outerOnServer();
    x->drag(3, outer.bottomRight() - QPoint(10, 10), outer.bottomRight() + QPoint(60, 40), true);
  }
  const QPoint plus = plusButton();
  x->click(1, plus.x(), plus.y());
  x->click(1, plus.x(), plus.y());
  x->movePointer(5, 5);
  outer = outerOnServer();
  if (wm) {
    EXPECT_NE(outer, QRect(744, 39, 280, 298)) << "the drags did not move the window";
  }
  QString caption;
  for (const WindowInfo& w : x->topLevels())
    if (w.id == window.id) caption = w.title;
  EXPECT_NE(caption, QStringLiteral("Вендрел (x3)")) << "the clicks did not change the zoom";

  std::vector<QRect> seen{outer};
  for (int run = 0; run < 5; ++run) {
    closeAndWait();
    const Written w = written();
    EXPECT_EQ(QStringLiteral("Вендрел (x%1)").arg(w.position), caption);
    EXPECT_EQ(w.visible, 1);
    EXPECT_EQ(w.bounds(), seen.back()) << "run " << run << ": written bounds are the outer frame";
    restart();
    seen.push_back(outerOnServer());
    EXPECT_EQ(seen.back(), seen.front()) << "run " << run << ": drifted";
  }
  int drift = 0;
  for (const QRect& r : seen)
    drift =
        std::max({drift, std::abs(r.x() - seen[0].x()), std::abs(r.y() - seen[0].y()),
                  std::abs(r.width() - seen[0].width()), std::abs(r.height() - seen[0].height())});
  RecordProperty("max_drift_px", drift);
}

TEST_P(SettingsOnX, ACopyEndedByTheGuardLeavesTheFileAlone) {
  start({.windowManager = GetParam()});
  closeAndWait();
  restart();
  const QByteArray before = [&] {
    QFile f(iniPath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }();
  ASSERT_FALSE(before.isEmpty());
  const QDateTime modified = QFileInfo(iniPath()).lastModified();
  sleepMs(20);
  auto second = launch();
  ASSERT_TRUE(second->wait(5000));
  QFile f(iniPath());
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), before);
  EXPECT_EQ(QFileInfo(iniPath()).lastModified(), modified);
}

INSTANTIATE_TEST_SUITE_P(, SettingsOnX, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "openbox" : "noWM"; });

}  // namespace
