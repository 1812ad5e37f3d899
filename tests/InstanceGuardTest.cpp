#include <gtest/gtest.h>

#include "app/InstanceMatch.h"
#include "app/Unit1.h"
#include "tests/Fakes.h"

namespace {

const QByteArray Title = QStringLiteral("Вендрел").toUtf8();

struct GuardCase {
  const char* what;
  QString exe;
  std::vector<FakeWindow> others;  // below the copy's own window, in walk order
  int count;                       // InstanceCount after the walk
  std::vector<WindowHandle> broughtForward;
};

TEST(InstanceGuard, WalkCountsRunningCopies) {
  const QString exe = QStringLiteral("/opt/tools/vendrel.bin");
  const GuardCase cases[] = {
      {"own window only", exe, {}, 1, {}},
      {"another copy's application window", exe, {{1, "TApplication", Title}}, 2, {1}},
      {"class in other ASCII case", exe, {{1, "tapplication", Title}}, 2, {1}},
      {"title differing in a Cyrillic letter's case",
       exe,
       {{1, "TApplication", QStringLiteral("вендрел").toUtf8()}},
       1,
       {}},
      {"main window class with the title", exe, {{1, "TForm1", Title}}, 1, {}},
      {"any class titled with the path, other ASCII case",
       exe,
       {{1, "XTerm", "/OPT/Tools/Vendrel.BIN"}},
       2,
       {1}},
      {"titled with the path before its first dot",
       exe,
       {{1, "XTerm", "/opt/tools/vendrel"}},
       2,
       {1}},
      {"untitled windows never count",
       QStringLiteral("/opt/tools/vendrel"),
       {{1, "XTerm", ""}, {2, "", ""}},
       1,
       {}},
      {"a window gone during the walk is passed over",
       exe,
       {{1, "TApplication", Title, true}, {2, "XTerm", "x", true}, {3, "TApplication", Title}},
       2,
       {3}},
      {"a null window ends the walk", exe, {{0, "", ""}, {2, "TApplication", Title}}, 1, {}},
      {"every later match is brought forward too",
       exe,
       {{1, "TApplication", Title}, {2, "Other", "x"}, {3, "TApplication", Title}},
       3,
       {1, 3}},
  };
  for (const auto& c : cases) {
    FakeApplication app(1024, 768, c.exe);
    for (const FakeWindow& w : c.others) app.fakeWindows.list.push_back(w);
    app.createForm<TForm1>();
    EXPECT_EQ(InstanceCount, c.count) << c.what;
    EXPECT_EQ(app.terminated(), c.count >= 2) << c.what;
    std::vector<std::pair<WindowHandle, int>> expected;
    for (WindowHandle w : c.broughtForward) {
      expected.emplace_back(w, FakeWindows::Foreground);
      expected.emplace_back(w, 1);
    }
    EXPECT_EQ(app.fakeWindows.commands, expected) << c.what;
  }
}

TEST(InstanceGuard, ATerminatedCopyNeverShowsItsWindow) {
  FakeApplication app;
  app.fakeWindows.list.push_back({1, "TApplication", Title});
  TForm1* form = app.createForm<TForm1>();
  EXPECT_EQ(app.run(), 0);
  EXPECT_FALSE(form->isVisible());
}

TEST(InstanceGuard, LongPathNeverMatchesThroughTheFullPath) {
  const QString exe = QStringLiteral("/") + QString(209, u'a');  // 210 characters, no dot
  FakeApplication app(1024, 768, exe);
  app.fakeWindows.list.push_back({1, "XTerm", exe.toUtf8()});
  app.createForm<TForm1>();
  EXPECT_EQ(InstanceCount, 1) << "titles are read cut to 209 bytes";
}

TEST(InstanceTexts, ThirdTextIsThePathBeforeItsFirstDot) {
  EXPECT_EQ(instanceTexts(QStringLiteral("T"), QStringLiteral("C:\\My.Tools\\Zoom.exe")).t3,
            QByteArray("C:\\My"));
  EXPECT_EQ(instanceTexts(QStringLiteral("T"), QStringLiteral("/usr/bin/vendrel")).t3,
            std::nullopt);
  const InstanceTexts t = instanceTexts(QStringLiteral("Вендрел"), QStringLiteral("/a/b"));
  EXPECT_FALSE(isRunningCopy("TApplication", "", t));
  EXPECT_FALSE(isRunningCopy("TApplication", "Вендрел ", t)) << "whole text only";
}

}  // namespace
