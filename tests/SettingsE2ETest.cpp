#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
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
    waitUntil([&] {
      sleepMs(40);
      QRect now;
      for (const WindowInfo& w : x->topLevels())
        if (w.id == window.id) now = w.outer;
      const bool settled = now == last && now.isValid();
      last = now;
      return settled;
    });
    return last;
  }

  void closeAndWait() {
    x->closeWindow(window.id);
    const auto status = program->wait();
    ASSERT_TRUE(status) << "the program did not end on close";
    EXPECT_EQ(*status, 0);
  }

  void restart() {
    program = launch();
    auto shown = x->waitForWindow(QStringLiteral("Вендрел (x"));
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
  ASSERT_TRUE(second->wait());
  QFile f(iniPath());
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), before);
  EXPECT_EQ(QFileInfo(iniPath()).lastModified(), modified);
}

// The settings file itself: where the program writes it, and whose it stays.
class SettingsFileOnX : public Magnifier {
 protected:
  QString folder() const { return programFolder() + QStringLiteral("/Vendrel"); }
  static QByteArray read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
  }
  static void write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(bytes), bytes.size());
  }
  void closeAndWait() {
    x->closeWindow(window.id);
    const auto status = program->wait();
    ASSERT_TRUE(status) << "the program did not end on close";
    EXPECT_EQ(*status, 0);
  }
};

TEST_F(SettingsFileOnX, AChainOfLinksIsFollowedToTheRealFile) {
  ASSERT_TRUE(QDir().mkpath(folder() + QStringLiteral("/real")));
  const QString real = folder() + QStringLiteral("/real/c.ini");
  write(real, "[TrackBar]\r\nPosition=5\r\n");
  // Relative links, each from the folder that holds it.
  ASSERT_EQ(::symlink("real/c.ini", QFile::encodeName(folder() + "/b.ini").constData()), 0);
  ASSERT_EQ(::symlink("b.ini", QFile::encodeName(folder() + "/Vendrel.ini").constData()), 0);
  start();
  if (HasFatalFailure()) return;
  EXPECT_EQ(window.title, QStringLiteral("Вендрел (x5)"));
  ASSERT_TRUE(zoomIn());
  closeAndWait();
  EXPECT_EQ(QFileInfo(folder() + "/Vendrel.ini").symLinkTarget(), folder() + "/b.ini");
  EXPECT_EQ(QFileInfo(folder() + "/b.ini").symLinkTarget(), real) << "b.ini stays a link";
  EXPECT_TRUE(read(real).startsWith("[TrackBar]\r\nPosition=6\r\n")) << read(real).toStdString();
  QStringList entries = QDir(folder()).entryList(QDir::Files | QDir::System);
  entries.sort();
  EXPECT_EQ(entries, (QStringList{QStringLiteral("Vendrel.ini"), QStringLiteral("b.ini")}));
}

TEST_F(SettingsFileOnX, PositionsNearThe32BitLimitOpenTheWindowWhollyOnTheScreen) {
  const struct {
    const char* stored;
    QRect opened;
  } cases[] = {
      {"Left=2147483600\r\nTop=2147483600\r\n", {744, 470, 280, 298}},
      {"Left=2147483647\r\nTop=-2147483648\r\nWidth=2147483647\r\n", {0, 0, 1024, 298}},
  };
  ASSERT_TRUE(QDir().mkpath(folder()));
  startServer({});
  for (const auto& c : cases) {
    const QString ini = folder() + QStringLiteral("/Vendrel.ini");
    write(ini, QByteArray("[MainForm]\r\n") + c.stored);
    program = launch();
    ASSERT_TRUE(waitForMagnifier()) << c.stored;
    EXPECT_EQ(window.outer, c.opened) << c.stored;
    closeAndWait();
    const QByteArray saved = read(ini);
    EXPECT_TRUE(saved.contains(
        QStringLiteral("Left=%1\r\nTop=%2\r\n").arg(c.opened.x()).arg(c.opened.y()).toLatin1()))
        << "what opened is what is saved: " << saved.toStdString();
  }
}

TEST_F(SettingsFileOnX, ARunAsRootLeavesTheUsersFileTheirs) {
  if (::geteuid() != 0) GTEST_SKIP() << "takes root, to run the program as root and as a user";
  const passwd* user = ::getpwnam("nobody");
  ASSERT_NE(user, nullptr);
  const uid_t uid = user->pw_uid;
  const gid_t gid = user->pw_gid;
  const QStringList asUser{QStringLiteral("setpriv"), QStringLiteral("--reuid=%1").arg(uid),
                           QStringLiteral("--regid=%1").arg(gid), QStringLiteral("--clear-groups"),
                           QStringLiteral("--")};
  placeProgram();
  ASSERT_EQ(::chmod(QFile::encodeName(programFolder()).constData(), 0755), 0);
  ASSERT_EQ(::chown(QFile::encodeName(folder()).constData(), uid, gid), 0);
  const QString ini = folder() + QStringLiteral("/Vendrel.ini");
  const QByteArray iniName = QFile::encodeName(ini);
  startServer({});

  program = launch(asUser);  // the user's run makes the file
  ASSERT_TRUE(waitForMagnifier());
  closeAndWait();
  struct stat st {};
  ASSERT_EQ(::stat(iniName.constData(), &st), 0) << "the user's run saved nothing";
  ASSERT_EQ(st.st_uid, uid);
  ASSERT_EQ(::chmod(iniName.constData(), 0640), 0);  // as the user may keep it

  program = launch();  // as root, in the user's folder
  ASSERT_TRUE(waitForMagnifier());
  ASSERT_TRUE(zoomIn());
  closeAndWait();
  ASSERT_EQ(::stat(iniName.constData(), &st), 0);
  EXPECT_EQ(st.st_uid, uid) << "the owner is kept";
  EXPECT_EQ(st.st_gid, gid) << "the group is kept";
  EXPECT_EQ(st.st_mode & 07777, 0640u) << "the mode is kept";
  EXPECT_TRUE(read(ini).contains("Position=4\r\n")) << "root's run saved";

  program = launch(asUser);  // and the user's next run still saves
  ASSERT_TRUE(waitForMagnifier());
  EXPECT_EQ(window.title, QStringLiteral("Вендрел (x4)"));
  ASSERT_TRUE(zoomIn());
  closeAndWait();
  EXPECT_TRUE(read(ini).contains("Position=5\r\n")) << read(ini).toStdString();
}

INSTANTIATE_TEST_SUITE_P(, SettingsOnX, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "openbox" : "noWM"; });

}  // namespace
