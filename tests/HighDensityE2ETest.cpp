#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QSettings>

#include "app/Magnify.h"
#include "tests/E2E.h"

// The magnifier on a screen twice as dense, as GNOME, KDE and Xfce set one up at 200 %:
// Xft.dpi 192 in the server's resources.

namespace {

constexpr Rect Screen{0, 0, 2048, 1536};

class HighDensityOnX : public Magnifier {
 protected:
  void SetUp() override {
    scale = 2;
    startServer({.width = Screen.right, .height = Screen.bottom});
    QProcess xrdb;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), screen->display());
    xrdb.setProcessEnvironment(env);
    xrdb.start(QStringLiteral("xrdb"), {QStringLiteral("-nocpp"), QStringLiteral("-merge")});
    ASSERT_TRUE(xrdb.waitForStarted(Patience)) << "no xrdb";
    xrdb.write("Xft.dpi: 192\n");
    xrdb.closeWriteChannel();
    ASSERT_TRUE(xrdb.waitForFinished(Patience));
    ASSERT_EQ(xrdb.exitCode(), 0) << xrdb.readAllStandardError().toStdString();
  }

  QString iniPath() { return QFileInfo(placeProgram()).path() + "/Vendrel/Vendrel.ini"; }

  void open() {
    program = launch();
    ASSERT_TRUE(waitForMagnifier());
  }

  void closeAndWait() {
    x->closeWindow(window.id);
    const auto status = program->wait();
    ASSERT_TRUE(status) << "the program did not end on close";
  }

  QRect outer() {
    for (const WindowInfo& w : x->topLevels())
      if (w.id == window.id) return w.outer;
    return {};
  }

  QString caption() {
    for (const WindowInfo& w : x->topLevels())
      if (w.id == window.id) return w.title;
    return {};
  }

  ::testing::AssertionResult clickUntil(QPoint button, int zoom) {
    const QString want = QStringLiteral("Вендрел (x%1)").arg(zoom);
    for (int attempt = 0; attempt < 12 && caption() != want; ++attempt) {
      const QString before = caption();
      x->click(1, button.x(), button.y());
      // Long enough that a slow program is never clicked twice: only a click the window
      // manager took for itself changes nothing.
      waitUntil([&] { return caption() != before; }, Patience / 4);
    }
    if (caption() == want) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "the caption stayed '" << caption().toStdString() << "'";
  }

  Rect expected(QPoint p, int zoom) {
    const QRect v = viewOnScreen();
    return sourceRect(p, v.width(), v.height(), zoom, Screen);
  }
};

TEST_F(HighDensityOnX, WindowAndPanelGrowTheViewStaysExactInDevicePixels) {
  ASSERT_NO_FATAL_FAILURE(open());
  EXPECT_EQ(outer(), QRect(2 * 744, 2 * 39, 2 * 280, 2 * 298)) << "twice the 1x window";
  const QRect view = viewOnScreen();
  EXPECT_EQ(view.size(), QSize(2 * 280 - 4, 2 * 298 - 2 * 83 - 4));

  // The status strip, its bevel included, spans twice its 1x size: blue at a place past the
  // whole 1x window, sky blue just above it.
  const QPoint panel(view.x() - 2, view.bottom() + 3);
  auto colourAt = [&](QPoint p, QColor want) {
    QColor shown;
    waitUntil([&] {
      shown = QColor(x->grab(QRect(panel + p, QSize(1, 1))).pixel(0, 0));
      return shown == want;
    });
    return shown;
  };
  EXPECT_EQ(colourAt({2 * 255, 2 * 70}, QColor(0, 0, 255)), QColor(0, 0, 255));
  EXPECT_EQ(colourAt({2 * 255, 2 * 62 - 2}, QColor(166, 202, 240)), QColor(166, 202, 240));

  const QPoint points[] = {{600, 600}, {0, 0}, {2047, 1535}, {1200, 10}};
  for (const auto& [button, zoom] :
       {std::pair{minusButton(), 1}, std::pair{plusButton(), 3}, std::pair{plusButton(), 10}}) {
    ASSERT_TRUE(clickUntil(button, zoom));
    for (QPoint p : points) {
      x->movePointer(p.x(), p.y());
      EXPECT_TRUE(viewShows(expected(p, zoom)))
          << "zoom " << zoom << " at " << p.x() << "," << p.y();
    }
  }
}

TEST_F(HighDensityOnX, TheFileKeepsLogicalBoundsClampedToTheScreenAndOpensThereAgain) {
  {
    QFile ini(iniPath());
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    // Past the right edge of the 1024-unit-wide screen: held at its edge.
    ini.write("[MainForm]\r\nLeft=2000\r\nTop=50\r\nWidth=300\r\nHeight=320\r\n");
  }
  ASSERT_NO_FATAL_FAILURE(open());
  const QRect first = outer();
  EXPECT_EQ(first, QRect(2 * (1024 - 300), 2 * 50, 2 * 300, 2 * 320));
  ASSERT_NO_FATAL_FAILURE(closeAndWait());
  {
    QSettings saved(iniPath(), QSettings::IniFormat);
    EXPECT_EQ(saved.value("MainForm/Left").toInt(), 1024 - 300);
    EXPECT_EQ(saved.value("MainForm/Top").toInt(), 50);
    EXPECT_EQ(saved.value("MainForm/Width").toInt(), 300);
    EXPECT_EQ(saved.value("MainForm/Height").toInt(), 320);
  }
  ASSERT_NO_FATAL_FAILURE(open());
  EXPECT_EQ(outer(), first) << "saved at 2x, opened at 2x in the same place";
}

}  // namespace
