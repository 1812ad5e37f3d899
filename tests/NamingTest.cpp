#include "app/Naming.h"

#include <gtest/gtest.h>

namespace {

TEST(Naming, SettingsAndHelpPaths) {
  struct Case {
    QString exe, ini, help;
  };
  const Case cases[] = {
      {"/opt/Tools/Zoom.exe", "/opt/Tools/Vendrel/Vendrel.ini", "/opt/Tools/Vendrel/Zoom.hlp"},
      {"/opt/Tools/my.zoom.exe", "/opt/Tools/Vendrel/Vendrel.ini",
       "/opt/Tools/Vendrel/my.zoom.hlp"},
      {"/work/build/vendrel", "/work/build/Vendrel/Vendrel.ini", "/work/build/Vendrel/vendrel.hlp"},
      {"/home/u/my.tools/vendrel", "/home/u/my.tools/Vendrel/Vendrel.ini",
       "/home/u/my.tools/Vendrel/vendrel.hlp"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(iniFileNameFor(c.exe), c.ini) << c.exe.toStdString();
    EXPECT_EQ(helpFileNameFor(c.exe), c.help) << c.exe.toStdString();
  }
}

TEST(Naming, SettingsGoBesideTheProgramWhereTheyCanElseToTheUsersOwnFolder) {
  const QString exe = QStringLiteral("/usr/lib/vendrel/vendrel");
  EXPECT_EQ(settingsFileFor(exe, true, QStringLiteral("/home/u/.config")),
            QStringLiteral("/usr/lib/vendrel/Vendrel/Vendrel.ini"));
  EXPECT_EQ(settingsFileFor(exe, false, QStringLiteral("/home/u/.config")),
            QStringLiteral("/home/u/.config/Vendrel/Vendrel.ini"));
  EXPECT_EQ(settingsFileFor(exe, false, QString()),
            QStringLiteral("/usr/lib/vendrel/Vendrel/Vendrel.ini"))
      << "no home: nowhere better";
}

TEST(Naming, CaptionAndStatus) {
  EXPECT_EQ(captionText(QStringLiteral("Вендрел"), 3), QStringLiteral("Вендрел (x3)"));
  EXPECT_EQ(captionText(QStringLiteral("Вендрел"), 10), QStringLiteral("Вендрел (x10)"));
  EXPECT_EQ(statusText(false).toUtf8(), QByteArray(" Режим \"Скольжение\""));
  EXPECT_EQ(statusText(true).toUtf8(), QByteArray(" Режим \"Заморозка\""));
}

}  // namespace
