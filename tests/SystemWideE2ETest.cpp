#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "tests/E2E.h"

namespace {

// The program installed where only the administrator writes, run by an ordinary user: its
// settings go to the user's own configuration folder, and the program's folder is never
// touched.
class SystemWideOnX : public Magnifier {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "running the program as another user takes root";
    const passwd* nobody = ::getpwnam("nobody");
    if (!nobody) GTEST_SKIP() << "no user 'nobody' here";
    uid_ = nobody->pw_uid;
    gid_ = nobody->pw_gid;
    ASSERT_TRUE(home_.isValid());
    ASSERT_EQ(::chown(QFile::encodeName(home_.path()).constData(), uid_, gid_), 0);
    startServer({});
    // The program's folder as a package leaves it: the user may read and run, not write.
    placeProgram();
    ::chmod(QFile::encodeName(programFolder()).constData(), 0755);
    ::chmod(QFile::encodeName(beside()).constData(), 0755);
  }

  QString beside() const { return programFolder() + QStringLiteral("/Vendrel"); }
  void seal() {
    ::chmod(QFile::encodeName(beside()).constData(), 0555);
    ::chmod(QFile::encodeName(programFolder()).constData(), 0555);
  }
  void TearDown() override {  // the temporary folders must go again
    ::chmod(QFile::encodeName(programFolder()).constData(), 0755);
    ::chmod(QFile::encodeName(beside()).constData(), 0755);
  }

  // Starts the program as user "nobody", with the environment's HOME and XDG_CONFIG_HOME as
  // given (unset when empty).
  void startAsUser(const QString& home, const QString& configHome) {
    QStringList unset, set;  // env takes its -u options before its assignments
    (home.isEmpty() ? unset : set)
        << (home.isEmpty() ? QStringLiteral("HOME") : QStringLiteral("HOME=") + home);
    (configHome.isEmpty() ? unset : set)
        << (configHome.isEmpty() ? QStringLiteral("XDG_CONFIG_HOME")
                                 : QStringLiteral("XDG_CONFIG_HOME=") + configHome);
    QStringList command{QStringLiteral("runuser"), QStringLiteral("-u"), QStringLiteral("nobody"),
                        QStringLiteral("--"), QStringLiteral("env")};
    for (const QString& u : unset) command << QStringLiteral("-u") << u;
    program = launch(command + set);
    ASSERT_TRUE(waitForMagnifier());
  }

  void zoomInAndClose() {
    ASSERT_TRUE(zoomIn());
    x->closeWindow(window.id);
    const auto status = program->wait();
    ASSERT_TRUE(status) << "did not end on close";
    EXPECT_EQ(*status, 0);
  }

  static QByteArray read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
  }

  QTemporaryDir home_;
  uid_t uid_ = 0;
  gid_t gid_ = 0;
};

TEST_F(SystemWideOnX, AReadOnlyProgramFolderSendsTheSettingsToTheUsersOwn) {
  seal();
  const QString config = home_.filePath(QStringLiteral("conf"));
  startAsUser(home_.path(), config);
  zoomInAndClose();
  const QString own = config + QStringLiteral("/Vendrel/Vendrel.ini");
  EXPECT_TRUE(read(own).contains("Position=4\r\n")) << read(own).toStdString();
  const QFileInfo folder(config + QStringLiteral("/Vendrel"));
  EXPECT_EQ(folder.ownerId(), uid_);
  EXPECT_EQ(folder.permissions() & 0x0777, 0x0700) << "the user's alone";
  EXPECT_EQ(QDir(beside()).entryList(QDir::Files), QStringList()) << "nothing beside the program";

  startAsUser(home_.path(), config);
  EXPECT_EQ(window.title, QStringLiteral("Вендрел (x4)")) << "comes back from there";
}

TEST_F(SystemWideOnX, SettingsBesideAReadOnlyProgramAreLeftAsTheyAre) {
  // What a user gets: the file beside the program is not read (the choice of one place for
  // reading and writing is made at start-up), so the first start shows the defaults, and every
  // change goes to the user's own file.
  const QByteArray kept = "; the administrator's\r\n[TrackBar]\r\nPosition=7\r\n";
  {
    QFile f(beside() + QStringLiteral("/Vendrel.ini"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(kept);
  }
  seal();
  const QString config = home_.filePath(QStringLiteral("conf"));
  startAsUser(home_.path(), config);
  EXPECT_EQ(window.title, QStringLiteral("Вендрел (x3)"));
  zoomInAndClose();
  EXPECT_EQ(read(beside() + QStringLiteral("/Vendrel.ini")), kept) << "never changed";
  EXPECT_TRUE(read(config + QStringLiteral("/Vendrel/Vendrel.ini")).contains("Position=4\r\n"));
}

TEST_F(SystemWideOnX, WithoutXdgConfigHomeTheHomesConfigFolderIsUsed) {
  seal();
  startAsUser(home_.path(), QString());
  zoomInAndClose();
  const QString own = home_.filePath(QStringLiteral(".config/Vendrel/Vendrel.ini"));
  EXPECT_TRUE(read(own).contains("Position=4\r\n")) << read(own).toStdString();
  EXPECT_EQ(QFileInfo(home_.filePath(QStringLiteral(".config"))).permissions() & 0x0777, 0x0700);
}

TEST_F(SystemWideOnX, AHomeThatCannotBeWrittenIsToldOnceAndTheProgramClosesNormally) {
  seal();
  QTemporaryDir rootsHome;  // exists, but belongs to root
  ::chmod(QFile::encodeName(rootsHome.path()).constData(), 0755);
  for (const QString& home : {rootsHome.path(), QStringLiteral("/nonexistent-home")}) {
    startAsUser(home, QString());
    ASSERT_TRUE(zoomIn());
    // Nowhere to save: the user is told, and the close ends the program with status 0.
    ASSERT_TRUE(closeThroughTheWarning());
    EXPECT_FALSE(QFileInfo::exists(rootsHome.filePath(QStringLiteral(".config"))));
    EXPECT_EQ(QDir(beside()).entryList(QDir::Files), QStringList());
  }
}

}  // namespace
