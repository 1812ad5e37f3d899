#pragma once

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <memory>

#include "platform/pixels/Rect.h"
#include "tools/XSession.h"

// The real program in a folder of its own (so its settings are the test's), on a virtual X
// server of its own over a picture whose every pixel has its own colour.
class Magnifier : public ::testing::Test {
 protected:
  // The program ends (and saves) while its folder is still there.
  ~Magnifier() override { program.reset(); }
  struct Options {
    int width = 1024;
    int height = 768;
    bool windowManager = false;
    QStringList serverOptions{};           // for Xvfb
    std::vector<DummyMonitor> monitors{};  // when given: Xorg's dummy driver instead of Xvfb
  };
  void start(const Options& options);
  void start() { start(Options{}); }
  // The server alone (and the window manager), over the picture; no program yet.
  void startServer(const Options& options);
  // A session and an accessibility bus of the test's own, for it and what it starts next.
  void startAccessibilityBus();
  // Takes an X display this fixture did not start: Xwayland, whose root window no one sees. The
  // unique-pixel picture is shown in a window over the whole `desktop`, and the view is read
  // from the magnifier window's own pixels.
  void useXwayland(const QString& display, QSize desktop);
  // Waits for a magnifier window to show up and takes it as `window`.
  ::testing::AssertionResult waitForMagnifier();

  // Starts one more copy of the program from the same folder; `prefix` is a command that runs
  // it (prlimit, say).
  std::unique_ptr<ChildProcess> launch(const QStringList& prefix = {});
  // Puts the program in its folder, with the "Vendrel" folder beside it (once); its path.
  QString placeProgram();
  QString programFolder() const { return folder_.path(); }

  // The view on the screen, for the window as it now stands (panel shown), in device pixels at
  // the desktop's `scale`.
  QRect viewOnScreen();
  QPoint plusButton();
  QPoint minusButton();
  // Clicks the zoom-in button and waits until the caption shows the zoom one up (a window
  // manager may take the first click on a window just come up for itself: it clicks again).
  ::testing::AssertionResult zoomIn();
  // Closes the window when its save is bound to fail: the warning that says so shows, and the
  // program ends with status 0 once the user has closed it.
  ::testing::AssertionResult closeThroughTheWarning();
  // Waits until the view shows the nearest-neighbour enlargement of `source`.
  ::testing::AssertionResult viewShows(const Rect& source, int ms = Patience);
  // Waits until the view is wholly one colour, and says which.
  ::testing::AssertionResult viewIsBlank(QRgb* colour = nullptr, int ms = Patience);
  // The status strip under the view, as the screen shows it.
  QImage statusStrip();
  // Waits for a tick that starts after this call: a screen pixel at `mark`, which the view
  // shows, is drawn in another colour until the view changes, then put back until the view is
  // as it was.
  ::testing::AssertionResult waitForTick(QPoint mark);
  // Presses Ctrl+Insert to freeze the view and waits until the program has taken the key (the
  // status strip changes) and ticked since, so that the spot the pointer is on is held whatever
  // it does next. `mark`: a screen pixel the view shows, away from the pointer's picture.
  ::testing::AssertionResult freeze(QPoint mark);
  // Right-clicks `at` and waits until the context menu is up.
  ::testing::AssertionResult openContextMenu(QPoint at);
  // Shows the unique-pixel picture over the whole screen, as it now stands.
  void coverScreen();

  int scale = 1;  // the desktop's: the window's layout grows by it
  std::unique_ptr<VirtualScreen> screen;
  std::unique_ptr<XSession> x;
  std::unique_ptr<ChildProcess> program;
  WindowInfo window;
  // What the program's environment has besides DISPLAY: by default that of an X11 session,
  // whatever session the tests run in.
  QStringList environment{QStringLiteral("WAYLAND_DISPLAY"),
                          QStringLiteral("XDG_SESSION_TYPE=x11")};

 private:
  QImage grabView(const QRect& view);
  void saveScreen();  // for a look after a failure: /tmp/e2e-fail.png

  QTemporaryDir folder_;
  std::unique_ptr<AccessibilityBus> bus_;
  QString xwayland_;
  int width_ = 0;  // of the screen the picture was made for
};
