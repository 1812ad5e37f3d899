#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "tests/E2E.h"

namespace {

// The package `make deb` built.
QString package() {
  const QDir deb(QStringLiteral(VENDREL_DEB_DIR));
  const QStringList found =
      deb.entryList({QStringLiteral("vendrel_*.deb")}, QDir::Files, QDir::Name);
  return found.isEmpty() ? QString() : deb.filePath(found.front());
}

QString run(const QString& program, const QStringList& arguments, int* status = nullptr) {
  QProcess p;
  p.start(program, arguments);
  p.waitForFinished(120000);
  if (status) *status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  return QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
}

TEST(Package, HoldsExactlyTheProgramItsHelpAndWhatADesktopNeeds) {
  const QString deb = package();
  ASSERT_FALSE(deb.isEmpty()) << "no package: `make deb` builds it";
  QSet<QString> files;
  for (const QString& line :
       run(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), deb}).split('\n')) {
    if (line.isEmpty() || line.startsWith('d')) continue;  // folders aside
    QString path = line.section(QStringLiteral(" ./"), 1);
    files.insert(QStringLiteral("/") + path);
  }
  const QSet<QString> expected{
      QStringLiteral("/usr/bin/vendrel -> ../lib/vendrel/vendrel"),
      QStringLiteral("/usr/lib/vendrel/vendrel"),
      QStringLiteral("/usr/lib/vendrel/Vendrel/vendrel.hlp"),
      QStringLiteral("/usr/share/applications/vendrel.desktop"),
      QStringLiteral("/usr/share/icons/hicolor/16x16/apps/vendrel.png"),
      QStringLiteral("/usr/share/icons/hicolor/32x32/apps/vendrel.png"),
      QStringLiteral("/usr/share/icons/hicolor/48x48/apps/vendrel.png"),
      QStringLiteral("/usr/share/icons/hicolor/scalable/apps/vendrel.svg"),
      QStringLiteral("/usr/share/metainfo/org.example.Vendrel.metainfo.xml"),
      QStringLiteral("/usr/share/man/man1/vendrel.1.gz"),
      QStringLiteral("/usr/share/man/ru/man1/vendrel.1.gz"),
      QStringLiteral("/usr/share/doc/vendrel/changelog.gz"),
      QStringLiteral("/usr/share/doc/vendrel/copyright"),
      QStringLiteral("/usr/share/lintian/overrides/vendrel"),
  };
  EXPECT_EQ(files, expected);
  const QString fields =
      run(QStringLiteral("dpkg-deb"),
          {QStringLiteral("-f"), deb, QStringLiteral("Version"), QStringLiteral("Depends")});
  EXPECT_TRUE(fields.contains(QStringLiteral("Version: 1.00.060914"))) << fields.toStdString();
  EXPECT_TRUE(fields.contains(QStringLiteral("libqt6widgets6"))) << "found by dpkg-shlibdeps";
}

TEST(Package, LintianFindsNoErrorsAndNoWarnings) {
  if (QStandardPaths::findExecutable(QStringLiteral("lintian")).isEmpty())
    GTEST_SKIP() << "lintian is not installed here (scripts/deps.sh installs it)";
  const QString deb = package();
  ASSERT_FALSE(deb.isEmpty()) << "no package: `make deb` builds it";
  int status = -1;
  const QString out =
      run(QStringLiteral("lintian"),
          {QStringLiteral("--fail-on"), QStringLiteral("error,warning"), deb}, &status);
  EXPECT_EQ(status, 0) << out.toStdString();
  for (const QString& line : out.split('\n'))
    EXPECT_FALSE(line.startsWith(QStringLiteral("E:")) || line.startsWith(QStringLiteral("W:")))
        << line.toStdString();
}

// The package unpacked where only root writes, run by an ordinary user under a window manager.
class PackageOnX : public Magnifier {};

TEST_F(PackageOnX, RunsAsAnOrdinaryUserAndBringsItsZoomBackFromTheUsersOwnSettings) {
  if (::geteuid() != 0) GTEST_SKIP() << "running the program as another user takes root";
  const passwd* nobody = ::getpwnam("nobody");
  if (!nobody) GTEST_SKIP() << "no user 'nobody' here";
  const QString deb = package();
  ASSERT_FALSE(deb.isEmpty()) << "no package: `make deb` builds it";
  QTemporaryDir root, home;
  ::chmod(QFile::encodeName(root.path()).constData(), 0755);
  ASSERT_EQ(::chown(QFile::encodeName(home.path()).constData(), nobody->pw_uid, nobody->pw_gid), 0);
  int status = -1;
  run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), deb, root.path()}, &status);
  ASSERT_EQ(status, 0);
  const QString installed = root.filePath(QStringLiteral("usr/lib/vendrel/vendrel"));
  ASSERT_TRUE(QFileInfo(installed).isExecutable());

  startServer({.windowManager = true});
  auto startAsUser = [&] {
    return std::make_unique<ChildProcess>(
        QStringLiteral("runuser"),
        QStringList{QStringLiteral("-u"), QStringLiteral("nobody"), QStringLiteral("--"),
                    QStringLiteral("env"), QStringLiteral("-u"), QStringLiteral("XDG_CONFIG_HOME"),
                    QStringLiteral("HOME=") + home.path(), installed},
        QStringList{QStringLiteral("DISPLAY=") + screen->display()} + environment);
  };
  program = startAsUser();
  ASSERT_TRUE(waitForMagnifier()) << "it starts";
  ASSERT_TRUE(zoomIn());
  x->closeWindow(window.id);  // the window manager's close request
  const auto ended = program->wait();
  ASSERT_TRUE(ended);
  EXPECT_EQ(*ended, 0);
  QFile own(home.filePath(QStringLiteral(".config/Vendrel/Vendrel.ini")));
  ASSERT_TRUE(own.open(QIODevice::ReadOnly)) << "the user's own settings";
  EXPECT_TRUE(own.readAll().contains("Position=4\r\n"));

  program = startAsUser();
  ASSERT_TRUE(waitForMagnifier());
  EXPECT_EQ(window.title, QStringLiteral("Вендрел (x4)")) << "the zoom comes back";
  program.reset();
}

}  // namespace
