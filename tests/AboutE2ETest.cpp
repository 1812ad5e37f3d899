#include <gtest/gtest.h>

#include <QDir>
#include <cstdio>

#include "tests/E2E.h"

namespace {

class AboutOnX : public Magnifier {};

TEST_F(AboutOnX, ContextMenuOpensTheDialogAndEscapeClosesIt) {
  start({.windowManager = true});
  const QPoint inView = viewOnScreen().center();
  ASSERT_TRUE(openContextMenu(inView));  // at the pointer
  x->pressKeys({keysym::Up});  // from no item, Up goes to the last: "О программе..."
  x->pressKeys({keysym::Return});
  auto dialog = x->waitForWindow(QStringLiteral("О программе"));
  ASSERT_TRUE(dialog) << "the About dialog did not open";
  EXPECT_EQ(dialog->client.size(), QSize(265, 425));
  sleepMs(300);  // for the screenshot: the window manager's frame and the first paint

  QDir().mkpath(QStringLiteral(VENDREL_ARTIFACTS));
  const QString shot = QStringLiteral(VENDREL_ARTIFACTS "/about-dialog.png");
  ASSERT_TRUE(x->grab(dialog->client).save(shot));
  std::printf("About dialog screenshot: %s\n", shot.toLocal8Bit().constData());
  RecordProperty("screenshot", shot.toStdString());

  x->pressKeys({keysym::Escape});
  const bool closed = waitUntil([&] {
    for (const WindowInfo& w : x->topLevels())
      if (w.viewable && w.title == QStringLiteral("О программе")) return false;
    return true;
  });
  EXPECT_TRUE(closed) << "Escape did not close the dialog";
  EXPECT_TRUE(program->running());
}

}  // namespace
