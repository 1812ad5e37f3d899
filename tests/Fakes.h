#pragma once

#include <QImage>
#include <functional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "platform/forms/Application.h"
#include "platform/forms/Shell.h"
#include "platform/pixels/Attention.h"
#include "platform/pixels/ScreenSource.h"
#include "platform/pixels/ViewSurface.h"
#include "platform/system/SystemInfo.h"
#include "platform/system/TopLevelWindows.h"

// A screen made of one picture: desktop pixel (x, y) is picture pixel (x, y). Its surfaces read
// it into memory and count their binds and releases here.
class FakeScreen : public ScreenSource {
 public:
  QImage picture;
  QPoint pointerAt{500, 400};
  std::vector<Rect> monitorList;
  bool pointerFails = false;
  bool pointerThrowsForeign = false;  // something that is no std::exception
  bool captureFails = false;
  int pointerQueries = 0;
  int binds = 0;
  int releases = 0;

  // Change reports, off unless a test turns them on: whether the screen has them, what the
  // next changed() answers, and the wake of a watch (empty when not watched).
  bool reports = false;
  bool changes = false;
  std::function<void()> wake;

  FakeScreen(int width, int height);
  QPoint pointer() override;
  const std::vector<Rect>& monitors() override { return monitorList; }
  Rect desktopBounds() override { return {0, 0, picture.width(), picture.height()}; }
  CapturedPixels capture(const Rect& area) override;
  std::unique_ptr<ViewSurface> createSurface();
  bool reportsChanges() override { return reports; }
  bool changed() override { return !reports || std::exchange(changes, false); }
  void watch(std::function<void()> w) override { wake = std::move(w); }

  // Where the screen tells the user why the view cannot follow: empty until the form asks.
  std::function<void(const QString&)> report;
  void reportTo(std::function<void(const QString&)> r) override { report = std::move(r); }
};

struct FakeWindow {
  WindowHandle handle = 0;
  QByteArray className;
  QByteArray title;
  bool gone = false;  // destroyed: it no longer answers
};

// A list of windows, topmost first; records what is asked of them.
class FakeWindows : public TopLevelWindows {
 public:
  static constexpr int Foreground = -1;
  std::vector<FakeWindow> list;
  std::vector<std::pair<WindowHandle, int>> commands;  // (window, Foreground or show command)
  std::vector<WindowHandle> examined;

  void enumerate(const std::function<bool(WindowHandle)>& visit) override;
  std::uint32_t owningThread(WindowHandle window) override;
  QByteArray className(WindowHandle window, int limit) override;
  QByteArray title(WindowHandle window, int limit) override;
  void setForeground(WindowHandle window) override { commands.emplace_back(window, Foreground); }
  void show(WindowHandle window, int command) override { commands.emplace_back(window, command); }

 private:
  const FakeWindow* find(WindowHandle window) const;
};

// Records what would be opened, and with which owner.
class FakeShell : public Shell {
 public:
  std::vector<std::pair<QWidget*, QString>> opened;
  void open(QWidget* owner, const QString& target) override { opened.emplace_back(owner, target); }
};

// A computer name, or a failing query.
class FakeSystemInfo : public SystemInfo {
 public:
  QByteArray name = "workstation-7";
  bool fails = false;
  bool computerName(char* buffer, std::uint32_t& size) override;
};

// What the form asks to follow, and its calls to make sightings and say the bus is missing.
struct FakeAttention : Attention {
  bool focus = false, caret = false;
  std::function<void(const Sighting&)> seen;
  std::function<void(const QString&)> unavailable;
  void follow(bool f, bool c, std::function<void(const Sighting&)> s) override {
    focus = f, caret = c, seen = std::move(s);
  }
  void reportTo(std::function<void(const QString&)> u) override { unavailable = std::move(u); }
};

// The application object around a fake screen; records the help commands it is given.
class FakeApplication : public Application {
 public:
  explicit FakeApplication(int screenWidth = 1024, int screenHeight = 768,
                           const QString& exe = QStringLiteral("/opt/tools/vendrel"));
  ~FakeApplication() override;

  void helpCommand(int command, int data) override { helpCalls.emplace_back(command, data); }
  ScreenSource& screen() override { return realScreen ? *realScreen : fakeScreen; }
  std::unique_ptr<ViewSurface> createSurface() override {
    return realSurfaces ? realSurfaces() : fakeScreen.createSurface();
  }
  TopLevelWindows& windows() override { return fakeWindows; }
  Attention& attention() override { return fakeAttention; }
  Shell& shell() override { return fakeShell; }
  SystemInfo& system() override { return fakeSystem; }
  // The application's own hidden window follows the title, as the real one does.
  void setTitle(const QString& title) override;
  // No configuration folder of the user's unless a test gives one: tests never write into the
  // home of whoever runs them.
  QString configHome() const override { return userConfigHome; }
  QString userConfigHome;
  void warnAtEnd(const QString& text) const override { warnings.push_back(text); }
  mutable std::vector<QString> warnings;

  static constexpr WindowHandle OwnWindow = 100;
  FakeScreen fakeScreen;
  // A real display's, when set: used instead.
  std::unique_ptr<ScreenSource> realScreen;
  std::function<std::unique_ptr<ViewSurface>()> realSurfaces;
  FakeWindows fakeWindows;
  FakeAttention fakeAttention;
  FakeShell fakeShell;
  FakeSystemInfo fakeSystem;
  std::vector<std::pair<int, int>> helpCalls;
};
