#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <thread>

#include "tests/E2E.h"

namespace {

// How the program ends, and what its settings file looks like afterwards.
class EndingOnX : public Magnifier {
 protected:
  QString iniPath() const { return programFolder() + QStringLiteral("/Vendrel/Vendrel.ini"); }
  QByteArray stored() const {
    QFile f(iniPath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
  }
  void store(const QByteArray& bytes) {
    QFile f(iniPath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(bytes), bytes.size());
  }
  QStringList folderEntries() const {
    return QDir(programFolder() + QStringLiteral("/Vendrel")).entryList(QDir::Files);
  }
  void closeAndWait() {
    x->closeWindow(window.id);
    const auto status = program->wait();
    ASSERT_TRUE(status) << "the program did not end on close";
    EXPECT_EQ(*status, 0);
  }
  bool xrandr(const QStringList& arguments) {
    return QProcess::execute(QStringLiteral("env"),
                             QStringList{QStringLiteral("DISPLAY=") + screen->display(),
                                         QStringLiteral("xrandr")} +
                                 arguments) == 0;
  }
};

TEST_F(EndingOnX, SignalsThatEndTheProgramSaveAsItsCloseButtonDoes) {
  start();
  int zoom = 3;
  for (int sig : {SIGTERM, SIGHUP, SIGINT}) {
    ASSERT_TRUE(zoomIn());
    ++zoom;
    ::kill(program->pid(), sig);
    const auto status = program->wait();
    ASSERT_TRUE(status) << strsignal(sig);
    EXPECT_EQ(*status, 0) << strsignal(sig);
    EXPECT_TRUE(stored().contains(QStringLiteral("Position=%1\r\n").arg(zoom).toLatin1()))
        << strsignal(sig) << ": " << stored().toStdString();
    program = launch();
    ASSERT_TRUE(waitForMagnifier());
    EXPECT_EQ(window.title, QStringLiteral("Вендрел (x%1)").arg(zoom)) << "comes back";
  }
}

TEST_F(EndingOnX, ASignalWhileTheAboutDialogIsOpenStillSaves) {
  start({.windowManager = true});
  ASSERT_TRUE(zoomIn());
  const QPoint inView = viewOnScreen().center();
  ASSERT_TRUE(openContextMenu(inView));
  x->pressKeys({keysym::Up});  // the last item: "О программе..."
  x->pressKeys({keysym::Return});
  ASSERT_TRUE(x->waitForWindow(QStringLiteral("О программе")));
  ::kill(program->pid(), SIGTERM);
  const auto status = program->wait();
  ASSERT_TRUE(status);
  EXPECT_EQ(*status, 0);
  EXPECT_TRUE(stored().contains("Position=4\r\n")) << stored().toStdString();
}

// A settings file with a comment line, 71 bytes, as a user may keep one.
const QByteArray Kept =
    "; my magnifier\r\n[TrackBar]\r\nPosition=5\r\n[MainForm]\r\nLeft=10\r\nTop=20\r\n\r\n";

TEST_F(EndingOnX, AFullDiskLeavesTheSettingsFileAsItWas) {
  ASSERT_EQ(Kept.size(), 71);
  const QByteArray folder = QFile::encodeName(programFolder() + QStringLiteral("/Vendrel"));
  QDir().mkpath(QString::fromLocal8Bit(folder));
  if (::mount("tmpfs", folder.constData(), "tmpfs", 0, "size=64k") != 0)
    GTEST_SKIP() << "cannot mount a small file system here (it takes root): " << strerror(errno);
  struct Unmount {
    QByteArray at;
    ~Unmount() { ::umount2(at.constData(), MNT_DETACH); }
  } unmount{folder};
  store(Kept);
  {  // the rest of the disk, filled to the brim
    QFile filler(QString::fromLocal8Bit(folder) + QStringLiteral("/filler"));
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    const QByteArray block(4096, 'x');
    while (filler.write(block) == block.size()) {
    }
    while (filler.write(block.left(1)) == 1) {
    }
  }
  start();
  if (HasFatalFailure()) return;
  ASSERT_TRUE(zoomIn());
  ASSERT_TRUE(closeThroughTheWarning());
  EXPECT_EQ(stored(), Kept);
  QStringList entries = folderEntries();
  entries.sort();
  EXPECT_EQ(entries, (QStringList{QStringLiteral("Vendrel.ini"), QStringLiteral("filler")}))
      << "nothing left beside it";
}

TEST_F(EndingOnX, AFileSizeLimitLeavesTheSettingsFileAsItWasAndTheProgramAlive) {
  ASSERT_TRUE(QDir(programFolder()).mkpath(QStringLiteral("Vendrel")));
  store(Kept);
  startServer({});
  // A limit below the size of the file the program writes.
  program = launch({QStringLiteral("prlimit"), QStringLiteral("--fsize=64"), QStringLiteral("--")});
  ASSERT_TRUE(waitForMagnifier());
  ASSERT_TRUE(zoomIn());
  ASSERT_TRUE(closeThroughTheWarning());  // not killed by SIGXFSZ
  EXPECT_EQ(stored(), Kept);
  EXPECT_EQ(folderEntries(), QStringList{QStringLiteral("Vendrel.ini")});
}

TEST_F(EndingOnX, ACloseKilledDuringTheSaveLeavesTheOldFileOrTheNewOneAndNoLitter) {
  // Every value the program writes differs from the stored one: each is clamped on loading.
  const QByteArray old =
      "[TrackBar]\r\nPosition=25\r\n[MainForm]\r\nLeft=-50\r\nTop=-60\r\nWidth=5000\r\n"
      "Height=5000\r\n[ScalePanel]\r\nVisible=7\r\n";
  ASSERT_TRUE(QDir(programFolder()).mkpath(QStringLiteral("Vendrel")));
  store(old);
  startServer({});
  program = launch();
  ASSERT_TRUE(waitForMagnifier());
  closeAndWait();
  const QByteArray saved = stored();
  ASSERT_EQ(saved, QByteArray("[TrackBar]\r\nPosition=10\r\n[MainForm]\r\nLeft=0\r\nTop=0\r\n"
                              "Width=1024\r\nHeight=768\r\n[ScalePanel]\r\nVisible=1\r\n"));

  int olds = 0, news = 0, littered = 0;
  for (int cycle = 0; cycle < 40; ++cycle) {
    store(old);
    program = launch();
    ASSERT_TRUE(waitForMagnifier());
    ::kill(program->pid(), SIGTERM);
    std::this_thread::sleep_for(
        std::chrono::microseconds(QRandomGenerator::global()->bounded(10'000)));
    ::kill(program->pid(), SIGKILL);
    ASSERT_TRUE(program->wait());
    const QByteArray now = stored();
    if (now == old)
      ++olds;
    else if (now == saved)
      ++news;
    else
      ADD_FAILURE() << "cycle " << cycle << ": a mixed file: " << now.toStdString();
    if (folderEntries().size() > 1) ++littered;
  }
  RecordProperty("old", olds);
  RecordProperty("new", news);
  RecordProperty("littered", littered);

  program = launch();  // the next save takes what the killed ones left
  ASSERT_TRUE(waitForMagnifier());
  closeAndWait();
  EXPECT_EQ(stored(), saved);
  EXPECT_EQ(folderEntries(), QStringList{QStringLiteral("Vendrel.ini")});
}

TEST_F(EndingOnX, TheXServerGoingAwaySavesTheLastSettingsAndEndsWithStatus1) {
  start();
  ASSERT_TRUE(zoomIn());
  ASSERT_TRUE(zoomIn());
  const QRect outer = window.outer;
  x.reset();  // the test's own connection goes first
  ::kill(screen->serverPid(), SIGKILL);
  const auto status = program->wait();
  ASSERT_TRUE(status) << "the program did not end with its display";
  EXPECT_EQ(*status, 1);
  const QByteArray ini = stored();
  EXPECT_TRUE(ini.startsWith("[TrackBar]\r\nPosition=5\r\n")) << ini.toStdString();
  EXPECT_TRUE(ini.contains(QStringLiteral("Left=%1\r\nTop=%2\r\nWidth=%3\r\nHeight=%4\r\n")
                               .arg(outer.x())
                               .arg(outer.y())
                               .arg(outer.width())
                               .arg(outer.height())
                               .toLatin1()))
      << ini.toStdString();
  EXPECT_EQ(folderEntries(), QStringList{QStringLiteral("Vendrel.ini")});
}

TEST_F(EndingOnX, AScreenWithNoMonitorOnNeitherHidesTheWindowNorGetsStored) {
  // Xorg's dummy driver can switch its only monitor off (Xvfb's cannot).
  Options options;
  options.monitors = {{{1024, 768}, {0, 0}, true}};
  startServer(options);
  if (IsSkipped()) return;
  ASSERT_TRUE(
      xrandr({QStringLiteral("--fb"), QStringLiteral("1024x768"), QStringLiteral("--output"),
              QStringLiteral("DUMMY0"), QStringLiteral("--off")}));
  program = launch();
  // Made, if never shown: no monitor to show it on.
  ASSERT_TRUE(waitUntil([&] {
    for (const WindowInfo& w : x->topLevels())
      if (w.title.startsWith(QStringLiteral("Вендрел (x"))) window = w;
    return window.id != 0;
  })) << "no window made";
  ASSERT_TRUE(program->running());
  closeAndWait();  // ended with status 0: it ran on all along
  const QByteArray ini = stored();
  EXPECT_TRUE(ini.contains("[TrackBar]")) << "the close handler ran";
  EXPECT_FALSE(ini.contains("Width=0") || ini.contains("Height=0")) << ini.toStdString();

  ASSERT_TRUE(
      xrandr({QStringLiteral("--output"), QStringLiteral("DUMMY0"), QStringLiteral("--auto")}));
  program = launch();
  ASSERT_TRUE(waitForMagnifier()) << "shows on the next start";
  EXPECT_GE(window.outer.width(), 32);
  EXPECT_GE(window.outer.height(), 32);
}

TEST_F(EndingOnX, AStoredSizeOfNothingOpensTheWindowAtItsUsualSize) {
  ASSERT_TRUE(QDir(programFolder()).mkpath(QStringLiteral("Vendrel")));
  store("[MainForm]\r\nLeft=100\r\nTop=100\r\nWidth=0\r\nHeight=-4\r\n");
  start();
  if (HasFatalFailure()) return;
  EXPECT_EQ(window.outer, QRect(100, 100, 280, 298));
}

}  // namespace
