#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>

#include "app/Placement.h"
#include "app/Unit1.h"
#include "tests/Fakes.h"

namespace {

// A program folder of its own: the executable's path, and the "Vendrel" folder beside it.
class Settings : public ::testing::Test {
 protected:
  Settings() : exe(dir.filePath(QStringLiteral("vendrel"))) {
    QDir(dir.path()).mkdir(QStringLiteral("Vendrel"));
  }
  QString iniPath() const { return dir.filePath(QStringLiteral("Vendrel/Vendrel.ini")); }
  void store(const QByteArray& bytes) {
    QFile f(iniPath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
  }
  QByteArray stored() const {
    QFile f(iniPath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
  TForm1* open(FakeApplication& app) {
    TForm1* form = app.createForm<TForm1>();
    form->show();
    QApplication::processEvents();
    return form;
  }

  QTemporaryDir dir;
  QString exe;
};

TEST_F(Settings, StoredValuesAreClampedToTheScreen) {
  struct Case {
    const char* what;
    QByteArray ini;
    QRect bounds;
    int zoom;
    bool panel;
    ViewMode mode = {};
  };
  const Case cases[] = {
      {"no file", "", {744, 39, 280, 298}, 3, true},
      {"left of the screen", "[MainForm]\r\nLeft=-50\r\n", {0, 39, 280, 298}, 3, true},
      {"wider than the screen",
       "[MainForm]\r\nLeft=100\r\nWidth=2000\r\n",
       {0, 39, 1024, 298},
       3,
       true},
      {"past the right edge",
       "[MainForm]\r\nLeft=900\r\nWidth=280\r\n",
       {744, 39, 280, 298},
       3,
       true},
      {"past the bottom edge", "[MainForm]\r\nTop=700\r\n", {744, 470, 280, 298}, 3, true},
      {"higher than the screen",
       "[MainForm]\r\nTop=-5\r\nHeight=900\r\n",
       {744, 0, 280, 768},
       3,
       true},
      {"zoom above the range", "[TrackBar]\r\nPosition=25\r\n", {744, 39, 280, 298}, 10, true},
      {"zoom below the range", "[TrackBar]\r\nPosition=0\r\n", {744, 39, 280, 298}, 1, true},
      {"panel hidden",
       "[MainForm]\r\nHeight=215\r\n[ScalePanel]\r\nVisible=0\r\n",
       {744, 39, 280, 215},
       3,
       false},
      {"no width", "[MainForm]\r\nWidth=0\r\n", {744, 39, 280, 298}, 3, true},
      {"a negative height", "[MainForm]\r\nHeight=-20\r\n", {744, 39, 280, 298}, 3, true},
      {"a window of one pixel",
       "[MainForm]\r\nWidth=1\r\nHeight=1\r\n",
       {744, 39, 280, 298},
       3,
       true},
      {"just too small", "[MainForm]\r\nWidth=31\r\n", {744, 39, 280, 298}, 3, true},
      {"just big enough",
       "[MainForm]\r\nLeft=10\r\nWidth=32\r\nHeight=32\r\n[ScalePanel]\r\nVisible=0\r\n",
       {10, 39, 32, 32},
       3,
       false},
      {"positions near the 32-bit limit",
       "[MainForm]\r\nLeft=2147483600\r\nTop=2147483600\r\n",
       {744, 470, 280, 298},
       3,
       true},
      {"the 32-bit extremes",
       "[MainForm]\r\nLeft=-2147483648\r\nTop=2147483647\r\nWidth=2147483647\r\n"
       "Height=2147483647\r\n",
       {0, 0, 1024, 768},
       3,
       true},
      {"unparsable values keep the defaults",
       "[MainForm]\r\nLeft=abc\r\n[TrackBar]\r\nPosition=\r\n",
       {744, 39, 280, 298},
       3,
       true},
      {"the view in inverted grey, smooth",
       "[View]\r\nColours=3\r\nSmooth=1\r\n",
       {744, 39, 280, 298},
       3,
       true,
       {Colours::InvertedGrey, true}},
      {"colours past the modes, smoothing past on",
       "[View]\r\nColours=4\r\nSmooth=2\r\n",
       {744, 39, 280, 298},
       3,
       true},
      {"negative and huge view values",
       "[View]\r\nColours=-1\r\nSmooth=4294967297\r\n",
       {744, 39, 280, 298},
       3,
       true},
      {"text for the view",
       "[View]\r\nColours=grey\r\nSmooth=on\r\n",
       {744, 39, 280, 298},
       3,
       true},
  };
  for (const auto& c : cases) {
    QFile::remove(iniPath());
    if (!c.ini.isEmpty()) store(c.ini);
    FakeApplication app(1024, 768, exe);
    TForm1* form = open(app);
    EXPECT_EQ(form->bounds(), c.bounds) << c.what;
    EXPECT_EQ(form->TrackBar1->value(), c.zoom) << c.what;
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Вендрел (x%1)").arg(c.zoom)) << c.what;
    EXPECT_EQ(form->ScalePanel1->isVisible(), c.panel) << c.what;
    EXPECT_EQ(form->ScalePanelVisibleItem1->isChecked(), c.panel) << c.what;
    EXPECT_EQ(form->viewMode(), c.mode) << c.what;
    EXPECT_TRUE(form->ColourItems[static_cast<int>(c.mode.colours)]->isChecked()) << c.what;
    EXPECT_EQ(form->SmoothItem1->isChecked(), c.mode.smooth) << c.what;
  }
}

TEST_F(Settings, ClosingWritesAllSixValuesAndKeepsTheRest) {
  // Another program's section, comments and Windows-1251 text stay as they were.
  store(
      "; \xcd\xe0\xf1\xf2\xf0\xee\xe9\xea\xe8\r\n[Other]\r\nName=\xc2\xe5\xed\xe4\xf0\xe5\xeb\r\n"
      "\r\n[MainForm]\r\nLeft=10\r\n");
  {
    FakeApplication app(1024, 768, exe);
    TForm1* form = open(app);
    form->TrackBar1->setValue(7);
    form->setBounds({20, 30, 300, 400});
    QApplication::processEvents();
    form->ScalePanelVisibleItem1->trigger();
    form->ColourItems[2]->trigger();
    form->SmoothItem1->trigger();
    QApplication::processEvents();
    form->close();
  }
  EXPECT_EQ(
      stored(),
      "; \xcd\xe0\xf1\xf2\xf0\xee\xe9\xea\xe8\r\n[Other]\r\nName=\xc2\xe5\xed\xe4\xf0\xe5\xeb\r\n"
      "\r\n[MainForm]\r\nLeft=20\r\nTop=30\r\nWidth=300\r\nHeight=317\r\n"
      "[TrackBar]\r\nPosition=7\r\n[ScalePanel]\r\nVisible=0\r\n"
      "[View]\r\nColours=2\r\nSmooth=1\r\n");

  FakeApplication again(1024, 768, exe);
  TForm1* form = open(again);
  EXPECT_EQ(form->bounds(), QRect(20, 30, 300, 317)) << "comes back where it was";
  EXPECT_EQ(form->TrackBar1->value(), 7);
  EXPECT_FALSE(form->ScalePanel1->isVisible());
  EXPECT_EQ(form->viewMode(), (ViewMode{Colours::Grey, true}));
  form->SmoothItem1->trigger();  // back to the defaults, which the file then says
  form->ColourItems[0]->trigger();
  form->close();
  EXPECT_TRUE(stored().endsWith("[View]\r\nColours=0\r\nSmooth=0\r\n")) << stored().toStdString();
}

TEST_F(Settings, TheTrackingChoicesComeBackAsTheyWereLeft) {
  const QByteArray others =
      "[TrackBar]\r\nPosition=3\r\n[MainForm]\r\nLeft=744\r\nTop=39\r\nWidth=280\r\n"
      "Height=298\r\n[ScalePanel]\r\nVisible=1\r\n";
  const struct {
    const char* what;
    QByteArray ini;
    bool turnFocusOn;  // the user's click, before closing
    bool focus, caret;
    QByteArray saved;  // before the other sections
  } cases[] = {
      {"a file from before the choices stays without them", "", false, false, false, ""},
      {"any number but 0 is on", "[Tracking]\r\nFocus=5\r\nCaret=-1\r\n", false, true, true,
       "[Tracking]\r\nFocus=1\r\nCaret=1\r\n"},
      {"foreign lines kept", "; mine\r\n[Tracking]\r\nMouse=2\r\nCaret=1\r\n", false, false, true,
       "; mine\r\n[Tracking]\r\nMouse=2\r\nCaret=1\r\nFocus=0\r\n"},
      {"turned on by the user", "[Tracking]\r\n", true, true, false,
       "[Tracking]\r\nFocus=1\r\nCaret=0\r\n"},
  };
  for (const auto& c : cases) {
    QFile::remove(iniPath());
    if (!c.ini.isEmpty()) store(c.ini);
    FakeApplication app(1024, 768, exe);
    TForm1* form = open(app);
    if (c.turnFocusOn) form->FollowFocusItem1->trigger();
    EXPECT_EQ(app.fakeAttention.focus, c.focus) << c.what;
    EXPECT_EQ(app.fakeAttention.caret, c.caret) << c.what;
    form->close();
    EXPECT_EQ(stored().toStdString(), (c.saved + others).toStdString()) << c.what;
  }
}

TEST_F(Settings, AScreenOfNothingNeitherShrinksTheWindowNorGetsStored) {
  // A display with no monitor switched on: the window keeps its size, and what is stored brings
  // it back on a real screen.
  {
    FakeApplication app(0, 0, exe);
    TForm1* form = open(app);
    EXPECT_EQ(form->bounds(), QRect(975, 39, 280, 298));
    form->close();
  }
  FakeApplication app(1024, 768, exe);
  TForm1* form = open(app);
  EXPECT_EQ(form->bounds(), QRect(744, 39, 280, 298));
}

TEST_F(Settings, AWindowTooSmallToShowIsNotStored) {
  store("[MainForm]\r\nLeft=10\r\nTop=20\r\nWidth=300\r\nHeight=400\r\n");
  FakeApplication app(1024, 768, exe);
  TForm1* form = open(app);
  form->setBounds({50, 60, 20, 0});
  QApplication::processEvents();
  form->close();
  EXPECT_EQ(stored(),
            "[MainForm]\r\nLeft=10\r\nTop=20\r\nWidth=300\r\nHeight=400\r\n"
            "[TrackBar]\r\nPosition=3\r\n[ScalePanel]\r\nVisible=1\r\n");
}

TEST_F(Settings, TheSessionManagersQuitSavesAsTheCloseButtonDoes) {
  FakeApplication app(1024, 768, exe);
  TForm1* form = app.createForm<TForm1>();
  form->TrackBar1->setValue(6);
  // What Qt does when the session manager tells the program to die: the loop just ends.
  QTimer::singleShot(50, [] {
    QEvent quit(QEvent::Quit);
    QCoreApplication::sendEvent(qApp, &quit);
  });
  app.run();
  EXPECT_TRUE(stored().contains("[TrackBar]\r\nPosition=6\r\n")) << stored().toStdString();
}

TEST_F(Settings, ACopyEndedByTheGuardWritesNothing) {
  FakeApplication app(1024, 768, exe);
  app.fakeWindows.list.push_back({1, "TApplication", QStringLiteral("Вендрел").toUtf8()});
  app.createForm<TForm1>();
  ASSERT_TRUE(app.terminated());
  app.run();
  EXPECT_FALSE(QFile::exists(iniPath()));
}

TEST_F(Settings, AMissingFolderBesideTheProgramIsMadeOnTheFirstSave) {
  QDir(dir.filePath(QStringLiteral("Vendrel"))).removeRecursively();
  {
    FakeApplication app(1024, 768, exe);
    TForm1* form = open(app);
    EXPECT_EQ(form->bounds(), QRect(744, 39, 280, 298));
    EXPECT_EQ(form->iniFileName(), iniPath()) << "the program's folder can be written";
    form->TrackBar1->setValue(5);
    form->close();  // a box here would block the test
  }
  EXPECT_TRUE(stored().contains("Position=5")) << "not lost";
}

TEST_F(Settings, AFailedSaveTellsTheUserOnceNamingTheFile) {
  ASSERT_TRUE(QDir(dir.filePath(QStringLiteral("Vendrel"))).mkdir(QStringLiteral("Vendrel.ini")));
  FakeApplication app(1024, 768, exe);
  TForm1* form = open(app);
  form->close();
  form->show();
  form->close();
  ASSERT_EQ(app.warnings.size(), 1u);
  EXPECT_TRUE(app.warnings[0].startsWith(QStringLiteral("Не удалось сохранить настройки")))
      << app.warnings[0].toStdString();
  EXPECT_TRUE(app.warnings[0].endsWith(iniPath())) << app.warnings[0].toStdString();

  QDir(iniPath()).removeRecursively();
  FakeApplication good(1024, 768, exe);
  open(good)->close();
  EXPECT_TRUE(good.warnings.empty()) << "a save that worked tells nothing";
}

TEST_F(Settings, WhereTheProgramsFolderCannotBeWrittenTheUsersOwnIsUsed) {
  // A program folder that cannot be made: the settings go to the user's configuration folder,
  // made (readable by the user alone) on the first save, and are read from there next time.
  QTemporaryDir home;
  const QString config = home.filePath(QStringLiteral("config"));
  const QString own = config + QStringLiteral("/Vendrel/Vendrel.ini");
  const QString nowhere = QStringLiteral("/nonexistent-vendrel-folder/vendrel");
  {
    FakeApplication app(1024, 768, nowhere);
    app.userConfigHome = config;
    TForm1* form = open(app);
    EXPECT_EQ(form->iniFileName(), own);
    form->TrackBar1->setValue(6);
    form->close();
  }
  QFile written(own);
  ASSERT_TRUE(written.open(QIODevice::ReadOnly));
  EXPECT_TRUE(written.readAll().contains("Position=6"));
  EXPECT_EQ(QFileInfo(config + QStringLiteral("/Vendrel")).permissions() & 0x0777, 0x0700)
      << "the folder is the user's alone";
  EXPECT_EQ(QFileInfo(config).permissions() & 0x0777, 0x0700);
  EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/nonexistent-vendrel-folder")));

  FakeApplication again(1024, 768, nowhere);
  again.userConfigHome = config;
  EXPECT_EQ(open(again)->TrackBar1->value(), 6) << "read from the same place";
}

TEST(ConfigHome, XdgConfigHomeFirstThenTheHomesConfigFolder) {
  QTemporaryDir home;
  const QByteArray savedXdg = qgetenv("XDG_CONFIG_HOME"), savedHome = qgetenv("HOME");
  const struct {
    const char* xdg;  // nullptr: unset
    QByteArray home;
    QString want;
  } cases[] = {
      {"/srv/conf", home.path().toLocal8Bit(), QStringLiteral("/srv/conf")},
      {"relative/conf", home.path().toLocal8Bit(), home.path() + QStringLiteral("/.config")},
      {nullptr, home.path().toLocal8Bit(), home.path() + QStringLiteral("/.config")},
      {nullptr, "/nonexistent-home", QString()},
      {nullptr, "", QString()},
  };
  FakeApplication app;
  for (const auto& c : cases) {
    if (c.xdg)
      qputenv("XDG_CONFIG_HOME", c.xdg);
    else
      qunsetenv("XDG_CONFIG_HOME");
    qputenv("HOME", c.home);
    EXPECT_EQ(app.Application::configHome(), c.want)
        << (c.xdg ? c.xdg : "-") << " " << c.home.constData();
  }
  qputenv("XDG_CONFIG_HOME", savedXdg);
  if (savedXdg.isNull()) qunsetenv("XDG_CONFIG_HOME");
  qputenv("HOME", savedHome);
}

TEST(Placement, ClampsAndEdges) {
  const Rect screen{0, 0, 1024, 768};
  EXPECT_EQ(clampedLeft(-1, screen), 0);
  EXPECT_EQ(clampedLeft(5, screen), 5);
  EXPECT_EQ(clampedTop(-9, screen), 0);
  EXPECT_EQ(clampedWidth(1025, screen), 1024);
  EXPECT_EQ(clampedWidth(10, screen), 10);
  EXPECT_EQ(clampedHeight(769, screen), 768);
  EXPECT_EQ(keptOnScreen({900, 39, 280, 298}, screen), QPoint(744, 39));
  EXPECT_EQ(keptOnScreen({0, 600, 280, 298}, screen), QPoint(0, 470));
  EXPECT_EQ(keptOnScreen({744, 470, 280, 298}, screen), QPoint(744, 470)) << "touching is fine";
  const Rect right{1024, 0, 2048, 768};  // a primary monitor right of the origin
  EXPECT_EQ(clampedLeft(100, right), 1024);
  EXPECT_EQ(keptOnScreen({1900, 0, 280, 298}, right), QPoint(1768, 0));
}

TEST(Placement, AWindowNoMonitorShowsIsBroughtOntoThePrimaryWithItsSizeWhereItFits) {
  const Rect small{0, 0, 640, 480}, right{640, 0, 1440, 600};
  const struct {
    QRect window;
    std::vector<Rect> monitors;
    std::optional<QRect> want;
  } cases[] = {
      {{1000, 39, 280, 298}, {small}, QRect(360, 39, 280, 298)},  // the screen shrank
      {{1000, 39, 700, 600}, {small}, QRect(0, 0, 640, 480)},     // too big for it now
      {{-900, -500, 280, 298}, {small}, QRect(0, 0, 280, 298)},
      {{500, 400, 280, 298}, {small}, std::nullopt},               // partly on it: left alone
      {{639, 479, 280, 298}, {small}, std::nullopt},               // one pixel is enough
      {{640, 480, 280, 298}, {small}, QRect(360, 182, 280, 298)},  // just off
      {{700, 39, 280, 298}, {small, right}, std::nullopt},         // on the other monitor
      {{100, 700, 280, 298}, {right, small}, QRect(640, 302, 280, 298)},
      {{1000, 39, 280, 298}, {{0, 0, 0, 0}}, std::nullopt},  // no monitor switched on
  };
  for (const auto& c : cases)
    EXPECT_EQ(rescuedBounds(c.window, c.monitors), c.want) << c.window.x() << "," << c.window.y();
}

TEST(Placement, StoredValuesThatCannotBeAScreenPositionAreBroughtWithin16Bits) {
  const int cases[][2] = {{0, 0},
                          {-50, -50},
                          {32767, 32767},
                          {32768, 32767},
                          {-32768, -32768},
                          {-32769, -32768},
                          {2147483600, 32767},
                          {2147483647, 32767},
                          {-2147483647 - 1, -32768}};
  for (const auto& c : cases) EXPECT_EQ(screenCoordinate(c[0]), c[1]) << c[0];
}

}  // namespace
