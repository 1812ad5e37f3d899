#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>

#include "app/Magnify.h"
#include "tests/E2E.h"
#include "tools/PortalStandIn.h"

namespace {

// A Wayland desktop as the magnifier meets it through the desktop portal: a session bus and a
// PipeWire daemon of the test's own, and the fake portal in front of them, whose frames show
// a picture in which every pixel's colour is its position. The magnifier's window is an X11
// window, here on Xvfb (in a real session, on XWayland), whose own screen shows plain grey: a
// view read from anywhere but the portal's frames is wrong at once.
class PortalOnX : public Magnifier {
 protected:
  struct Setup {
    QString monitors = QStringLiteral("1024x768+0+0");
    QSize screen{1024, 768};
    QStringList fake{};  // more options for the fake portal
  };

  void startDesktop(const Setup& setup) {
    standIn_ = std::make_unique<PortalStandIn>(QStringLiteral(VENDREL_FAKE_PORTAL), setup.monitors,
                                               setup.fake);
    startServer({.width = setup.screen.width(), .height = setup.screen.height()});
    QImage grey(setup.screen, QImage::Format_RGB32);
    grey.fill(QColor(128, 128, 128));
    x->setRootPicture(grey);
    environment = standIn_->environment();
  }

  void TearDown() override {
    program.reset();
    standIn_.reset();
  }

  void tell(const QByteArray& command) {
    ASSERT_TRUE(standIn_->tell(command)) << command.toStdString();
  }
  QStringList calls() const { return standIn_->calls(); }
  int count(const QString& call) const { return standIn_->count(call); }

  QString iniPath() const { return programFolder() + QStringLiteral("/Vendrel/Vendrel.ini"); }
  QByteArray stored() const {
    QFile f(iniPath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }

  Rect expected(QPoint p, const std::vector<Rect>& monitors, int zoom = 3) {
    const QRect v = viewOnScreen();
    return sourceRect(p, v.width(), v.height(), zoom, clampArea(p, monitors));
  }

  // A command prefix that runs the program with its error output going to `errors()`.
  QStringList errorsToFile() const {
    return {QStringLiteral("/bin/sh"), QStringLiteral("-c"),
            QStringLiteral("exec \"$0\" 2>>'%1'").arg(errorsPath())};
  }
  QString errorsPath() const { return programFolder() + QStringLiteral("/errors.txt"); }
  QString errors() const {
    QFile f(errorsPath());
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
  }
  // Waits until the program's error output says `what`.
  bool errorsSay(const QString& what) const {
    return waitUntil([&] { return errors().contains(what); });
  }

  // How many times the program's main thread has gone to sleep and been woken so far.
  qint64 wakeUps() const {
    QFile f(QStringLiteral("/proc/%1/task/%1/status").arg(program->pid()));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    const auto m = QRegularExpression(QStringLiteral("voluntary_ctxt_switches:\\s*(\\d+)"))
                       .match(QString::fromLatin1(f.readAll()));
    return m.hasMatch() ? m.captured(1).toLongLong() : -1;
  }

  // Waits until the program rests: two seconds in which its main thread wakes fewer than ten
  // times, where ticking it would wake forty. A busy machine may keep it from resting for a
  // while, never for good.
  bool rests() const {
    return waitUntil([&] {
      const qint64 before = wakeUps();
      sleepMs(2000);
      return before >= 0 && wakeUps() - before < 10;
    });
  }

  // Moves the portal's pointer and waits for the view to show `source` from the portal's frames.
  ::testing::AssertionResult pointerShows(QPoint p, const Rect& source) {
    if (!standIn_->tell(QStringLiteral("cursor %1 %2").arg(p.x()).arg(p.y()).toLatin1()))
      return ::testing::AssertionFailure() << "the fake portal did not answer";
    return viewShows(source);
  }

 private:
  std::unique_ptr<PortalStandIn> standIn_;
};

constexpr Rect Single{0, 0, 1024, 768};

TEST_F(PortalOnX, ViewIsPixelExactAtEachZoomAndAtTheMonitorsEdges) {
  startDesktop({});
  program = launch();
  ASSERT_TRUE(waitForMagnifier());
  const QPoint points[] = {{300, 300}, {0, 0}, {1023, 767}, {5, 700}, {600, 0}};
  for (int zoom : {3, 4, 10, 1}) {
    if (zoom == 4) x->click(1, plusButton().x(), plusButton().y());
    if (zoom == 10)
      for (int i = 0; i < 6; ++i) x->click(1, plusButton().x(), plusButton().y());
    if (zoom == 1)
      for (int i = 0; i < 9; ++i) x->click(1, minusButton().x(), minusButton().y());
    for (QPoint p : points)
      EXPECT_TRUE(pointerShows(p, expected(p, {Single}, zoom)))
          << "zoom " << zoom << " at " << p.x() << "," << p.y();
  }
}

TEST_F(PortalOnX, FramesInEachPixelLayoutShowTheSamePicture) {
  for (const char* layout : {"RGBx", "BGRA", "RGBA"}) {
    startDesktop({.fake = {QStringLiteral("--format"), QString::fromLatin1(layout)}});
    program = launch();
    ASSERT_TRUE(waitForMagnifier()) << layout;
    EXPECT_TRUE(pointerShows({300, 300}, expected({300, 300}, {Single}))) << layout;
    EXPECT_TRUE(pointerShows({1023, 0}, expected({1023, 0}, {Single}))) << layout;
    program.reset();
  }
}

TEST_F(PortalOnX, TheViewIsBlankWhileThePointerIsOverItsWindowAndFreezeHolds) {
  startDesktop({});
  program = launch();
  ASSERT_TRUE(waitForMagnifier());
  ASSERT_TRUE(pointerShows({300, 300}, expected({300, 300}, {Single})));
  const QRect view = viewOnScreen();
  tell(QStringLiteral("cursor %1 %2").arg(view.center().x()).arg(view.center().y()).toLatin1());
  EXPECT_TRUE(viewIsBlank()) << "over its own window";

  ASSERT_TRUE(pointerShows({200, 500}, expected({200, 500}, {Single})));
  const QImage sliding = statusStrip();
  x->pressKeys({keysym::Control_L, keysym::Insert});
  ASSERT_TRUE(waitUntil([&] { return statusStrip() != sliding; })) << "Ctrl+Insert taken";
  // A zoom shows at the next tick: the one that takes the spot, if none has yet.
  x->click(1, plusButton().x(), plusButton().y());
  ASSERT_TRUE(viewShows(expected({200, 500}, {Single}, 4))) << "frozen, zoom 4";
  tell("cursor 700 100");
  x->click(1, minusButton().x(), minusButton().y());
  EXPECT_TRUE(viewShows(expected({200, 500}, {Single}))) << "frozen";
  x->pressKeys({keysym::Control_L, keysym::Insert});
  EXPECT_TRUE(viewShows(expected({700, 100}, {Single}))) << "released";
}

TEST_F(PortalOnX, TwoMonitorsSideBySideEachKeepTheSourceWithinItsEdges) {
  startDesktop({.monitors = QStringLiteral("1024x768+0+0,800x600+1024+0"),
                .screen = {1824, 768},
                .fake = {}});
  program = launch();
  ASSERT_TRUE(waitForMagnifier());
  const Rect left{0, 0, 1024, 768}, right{1024, 0, 1824, 600};
  const struct {
    QPoint pointer;
    Rect source;
  } cases[] = {
      {{1020, 300}, {932, 265, 1024, 335}},   // the left one, beside the right one
      {{1030, 300}, {1024, 265, 1116, 335}},  // the right one, beside the left one
      {{1300, 599}, {1254, 530, 1346, 600}},  // the right one's bottom edge
      {{0, 767}, {0, 698, 92, 768}},          // the left one's far corner
  };
  for (const auto& c : cases) {
    EXPECT_EQ(expected(c.pointer, {left, right}), c.source);
    EXPECT_TRUE(pointerShows(c.pointer, c.source)) << c.pointer.x() << "," << c.pointer.y();
  }
}

TEST_F(PortalOnX, TheUsersLeaveIsKeptAndGivenBackNextTime) {
  const QString leave = QStringLiteral("0d9c2e64-7b1a-4f3e-8c5d-00000000002a");
  startDesktop({.fake = {QStringLiteral("--token"), leave}});
  // The settings file holds more than this program's: it all stays as it was.
  const QByteArray other =
      "; \xcd\xe0\xf1\xf2\xf0\xee\xe9\xea\xe8\r\n[Other]\r\nName=\xc2\xe5\xed\r\n";
  ASSERT_TRUE(QDir(programFolder()).mkpath(QStringLiteral("Vendrel")));
  {
    QFile f(iniPath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(other);
  }
  program = launch();
  ASSERT_TRUE(waitForMagnifier());
  ASSERT_TRUE(pointerShows({300, 300}, expected({300, 300}, {Single})));
  EXPECT_EQ(stored(), other + "[ScreenCast]\r\nRestoreToken=" + leave.toLatin1() + "\r\n");
  QStringList selects = calls().filter(QStringLiteral("SelectSources"));
  ASSERT_EQ(selects.size(), 1);
  EXPECT_FALSE(selects[0].contains(QStringLiteral("restore_token"))) << "nothing to give back yet";
  EXPECT_TRUE(selects[0].contains(QStringLiteral("cursor_mode=4")));
  EXPECT_TRUE(selects[0].contains(QStringLiteral("persist_mode=2")));

  x->closeWindow(window.id);
  ASSERT_TRUE(program->wait());
  program = launch();
  ASSERT_TRUE(waitForMagnifier());
  ASSERT_TRUE(pointerShows({400, 400}, expected({400, 400}, {Single})))
      << calls().join(" | ").toStdString();
  selects = calls().filter(QStringLiteral("SelectSources"));
  ASSERT_EQ(selects.size(), 2);
  EXPECT_TRUE(selects[1].contains(QStringLiteral("restore_token=") + leave))
      << selects[1].toStdString();
  EXPECT_TRUE(stored().startsWith(other)) << stored().toStdString();
}

TEST_F(PortalOnX, ARefusalSaysSoAndEndsWithStatusOne) {
  startDesktop({.fake = {QStringLiteral("--refuse")}});
  ASSERT_TRUE(QDir(programFolder()).mkpath(QStringLiteral("Vendrel")));
  const QByteArray kept = "; mine\r\n[TrackBar]\r\nPosition=5\r\n";
  {
    QFile f(iniPath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(kept);
  }
  program = launch();
  ASSERT_TRUE(waitForMagnifier());
  tell("cursor 300 300");
  // Titled as the program is: its window's title has the zoom.
  const auto box = x->waitForWindowTitled(QStringLiteral("Вендрел"));
  ASSERT_TRUE(box) << "no box";
  // Longer than the pause before an ended session is asked for again: while the box is up,
  // nothing is asked.
  sleepMs(6500);
  EXPECT_EQ(count(QStringLiteral("CreateSession")), 1);
  x->closeWindow(box->id);
  const auto status = program->wait();
  ASSERT_TRUE(status);
  EXPECT_EQ(*status, 1);
  EXPECT_TRUE(stored().startsWith(kept)) << stored().toStdString();
  EXPECT_TRUE(stored().contains("[MainForm]\r\nLeft=")) << "saved as the close button saves";
  EXPECT_EQ(count(QStringLiteral("CreateSession")), 1);
  EXPECT_EQ(count(QStringLiteral("OpenPipeWireRemote")), 0);
}

TEST_F(PortalOnX, AnEndedCastBlanksTheViewAndASessionIsAskedForAgainAfterFiveSeconds) {
  startDesktop({});
  program = launch();
  ASSERT_TRUE(waitForMagnifier());
  ASSERT_TRUE(pointerShows({300, 300}, expected({300, 300}, {Single})));
  tell("end");
  EXPECT_TRUE(viewIsBlank()) << "nothing to show meanwhile";
  EXPECT_EQ(count(QStringLiteral("CreateSession")), 1) << "not at once";
  ASSERT_TRUE(waitUntil([&] { return count(QStringLiteral("Streaming")) >= 2; }))
      << calls().join(" | ").toStdString();
  EXPECT_EQ(count(QStringLiteral("CreateSession")), 2);
  EXPECT_TRUE(pointerShows({500, 400}, expected({500, 400}, {Single}))) << "shows again";
}

TEST_F(PortalOnX, APortalThatCannotTellThePointerSaysSo) {
  startDesktop({.fake = {QStringLiteral("--cursor-modes"), QStringLiteral("3")}});
  QProcess p;  // for its error output
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("DISPLAY"), screen->display());
  for (const QString& e : environment) env.insert(e.section('=', 0, 0), e.section('=', 1));
  p.setProcessEnvironment(env);
  p.start(QStringLiteral(VENDREL_BINARY), {});
  const auto box = x->waitForWindow(QStringLiteral("Vendrel"));
  ASSERT_TRUE(box) << "no box";
  x->closeWindow(box->id);
  ASSERT_TRUE(p.waitForFinished(Patience));
  EXPECT_EQ(p.exitCode(), 1);
  EXPECT_TRUE(QString::fromUtf8(p.readAllStandardError()).contains(QStringLiteral("указатель")));
  EXPECT_EQ(count(QStringLiteral("CreateSession")), 0);
}

TEST_F(PortalOnX, AFrameWhoseRowsLiePastItsBufferIsNeverReadAndTheViewStaysBlank) {
  startDesktop({.fake = {QStringLiteral("--bad-chunk")}});
  program = launch(errorsToFile());
  ASSERT_TRUE(waitForMagnifier());
  tell("cursor 300 300");
  tell("frame");
  ASSERT_TRUE(errorsSay(QStringLiteral("does not fit its buffer"))) << errors().toStdString();
  QRgb noPicture = 0;
  EXPECT_TRUE(viewIsBlank(&noPicture)) << "nothing to show, and nothing read";
  const QRect view = viewOnScreen();
  tell(QStringLiteral("cursor %1 %2").arg(view.center().x()).arg(view.center().y()).toLatin1());
  tell("frame");
  QRgb overItself = 0;
  EXPECT_TRUE(viewIsBlank(&overItself));
  EXPECT_EQ(noPicture, overItself) << "one blank colour";
  EXPECT_TRUE(program->running());
  EXPECT_EQ(errors().count(QStringLiteral("does not fit its buffer")), 1) << "told once";
}

TEST_F(PortalOnX, ACastThatNeverTellsThePointerSaysSoInTheStatusStripAndKeepsWaiting) {
  startDesktop({.fake = {QStringLiteral("--no-cursor-meta")}});
  program = launch(errorsToFile());
  ASSERT_TRUE(waitForMagnifier());
  const QImage usual = statusStrip();
  ASSERT_TRUE(errorsSay(QStringLiteral("sent no pointer position"))) << errors().toStdString();
  EXPECT_TRUE(waitUntil([&] { return statusStrip() != usual; }))
      << "the status strip says why the view stays blank";
  QRgb colour = 0;
  EXPECT_TRUE(viewIsBlank(&colour));
  EXPECT_TRUE(program->running());
  EXPECT_EQ(count(QStringLiteral("CreateSession")), 1) << "the cast goes on, waiting";
}

TEST_F(PortalOnX, AStillScreenLetsItRestAndWhatChangesWakesIt) {
  startDesktop({});
  program = launch();
  ASSERT_TRUE(waitForMagnifier());
  ASSERT_TRUE(pointerShows({300, 300}, expected({300, 300}, {Single})));
  ASSERT_GE(wakeUps(), 0);
  EXPECT_TRUE(rests()) << "resting while nothing comes";

  x->click(1, plusButton().x(), plusButton().y());
  EXPECT_TRUE(viewShows(expected({300, 300}, {Single}, 4))) << "a zoom shows with no frame";
  EXPECT_TRUE(rests()) << "at rest again";
  EXPECT_TRUE(pointerShows({600, 500}, expected({600, 500}, {Single}, 4))) << "a pointer moved";
}

}  // namespace
