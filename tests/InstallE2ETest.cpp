#include <gtest/gtest.h>

#include <QDirIterator>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>

#include "tests/E2E.h"

namespace {

// Installed for a user whose home is a temporary folder, started the ways a desktop starts it.
class Installed : public Magnifier {
 protected:
  void SetUp() override {
    ASSERT_TRUE(home.isValid());
    prefix = home.filePath(QStringLiteral(".local"));
  }
  // A copy still running would save into the home that goes with this test.
  void TearDown() override { program.reset(); }

  int run(const QString& program, const QStringList& arguments, QString* output = nullptr) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, arguments);
    if (!p.waitForFinished(120000)) return -1;
    if (output) *output = QString::fromLocal8Bit(p.readAll());
    return p.exitCode();
  }

  int script(const char* action, QString* output = nullptr) {
    return run(QStringLiteral(VENDREL_SOURCE_DIR "/scripts/install.sh"),
               {QString::fromLatin1(action), QStringLiteral(VENDREL_BUILD_DIR), prefix}, output);
  }

  QStringList filesUnder(const QString& folder) const {
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) files << it.next().mid(folder.size() + 1);
    files.sort();
    return files;
  }

  std::unique_ptr<ChildProcess> startAs(const QString& exe) {
    return std::make_unique<ChildProcess>(
        exe, QStringList{},
        QStringList{QStringLiteral("DISPLAY=") + screen->display(),
                    QStringLiteral("HOME=") + home.path()} +
            environment);
  }

  QTemporaryDir home;
  QString prefix;
};

TEST_F(Installed, InstallRunRememberAndUninstall) {
  QString said;
  ASSERT_EQ(script("install", &said), 0) << said.toStdString();
  const QStringList expected{
      "bin/vendrel",
      "lib/vendrel/.installed-files",
      "lib/vendrel/Vendrel/vendrel.hlp",
      "lib/vendrel/vendrel",
      "share/applications/vendrel.desktop",
      "share/icons/hicolor/16x16/apps/vendrel.png",
      "share/icons/hicolor/32x32/apps/vendrel.png",
      "share/icons/hicolor/48x48/apps/vendrel.png",
      "share/icons/hicolor/scalable/apps/vendrel.svg",
      "share/man/man1/vendrel.1",
      "share/man/ru/man1/vendrel.1",
      "share/metainfo/org.example.Vendrel.metainfo.xml",
  };
  EXPECT_EQ(filesUnder(prefix), expected);
  std::printf("Installed:\n  %s\n",
              filesUnder(prefix).join(QStringLiteral("\n  ")).toLocal8Bit().constData());
  EXPECT_TRUE(QFileInfo(prefix + QStringLiteral("/bin/vendrel")).isSymLink());

  const QString desktopFile = prefix + QStringLiteral("/share/applications/vendrel.desktop");
  EXPECT_EQ(run(QStringLiteral("desktop-file-validate"), {desktopFile}, &said), 0)
      << said.toStdString();
  EXPECT_EQ(run(QStringLiteral("appstreamcli"),
                {QStringLiteral("validate"), QStringLiteral("--no-net"),
                 prefix + QStringLiteral("/share/metainfo/org.example.Vendrel.metainfo.xml")},
                &said),
            0)
      << said.toStdString();

  // Started through the desktop entry's Exec line.
  QSettings entry(desktopFile, QSettings::IniFormat);
  const QString exec = entry.value(QStringLiteral("Desktop Entry/Exec")).toString();
  const QString wmClass = entry.value(QStringLiteral("Desktop Entry/StartupWMClass")).toString();
  ASSERT_FALSE(exec.isEmpty());
  startServer({.windowManager = true});
  program = startAs(exec);
  ASSERT_TRUE(waitForMagnifier());
  EXPECT_EQ(window.className, wmClass) << "the task bar matches the window to the entry";
  EXPECT_TRUE(x->hasProperty(window.id, "_NET_WM_ICON")) << "the task bar shows the program's icon";
  ASSERT_TRUE(zoomIn());
  x->closeWindow(window.id);
  ASSERT_TRUE(program->wait());

  const QString settings = prefix + QStringLiteral("/lib/vendrel/Vendrel/Vendrel.ini");
  EXPECT_EQ(
      QSettings(settings, QSettings::IniFormat).value(QStringLiteral("TrackBar/Position")).toInt(),
      4)
      << "the settings live in the program folder";

  // Started through the link: the same program folder, so the same settings.
  program = startAs(prefix + QStringLiteral("/bin/vendrel"));
  EXPECT_TRUE(x->waitForWindow(QStringLiteral("Вендрел (x4)"))) << "the zoom came back";
  program->stop();

  ASSERT_EQ(script("uninstall", &said), 0) << said.toStdString();
  EXPECT_TRUE(said.contains(QStringLiteral("Kept your settings"))) << said.toStdString();
  EXPECT_EQ(filesUnder(prefix), QStringList{QStringLiteral("lib/vendrel/Vendrel/Vendrel.ini")});
}

}  // namespace
