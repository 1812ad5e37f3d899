#include <gtest/gtest.h>

#include <QDir>
#include <cstdio>

#include "tests/E2E.h"

namespace {

class AboutOnX : public Magnifier {};

TEST_F(AboutOnX, ContextMenuOpensTheDialogAndEscapeClosesIt) {
  start({.windowManager = true});
  const QPoint inView = viewOnScreen().center();
  x->click(3, inView.x(), inView.y());  // the context menu, at the pointer
  sleepMs(300);
  x->pressKeys({keysym::Up});  // from no item, Up goes to the last: "О программе..."
  x->pressKeys({keysym::Return});
  auto dialog = x->waitForWindow(QStringLiteral("О программе"), 5000);
  ASSERT_TRUE(dialog) << "the About dialog did not open";
  EXPECT_EQ(dialog->client.size(), QSize(265, 425));
  sleepMs(300);

  QDir().mkpath(QStringLiteral(VENDREL_ARTIFACTS));
  const QString shot = QStringLiteral(VENDREL_ARTIFACTS "/about-dialog.png");
  ASSERT_TRUE(x->grab(dialog->client).save(shot));
  std::printf("About dialog screenshot: %s\n", shot.toLocal8Bit().constData());
  RecordProperty("screenshot", shot.toStdString());

  x->pressKeys({keysym::Escape});
  bool closed = false;
  for (int i = 0; i < 100 && !closed; ++i) {
    closed = true;
    for (const WindowInfo& w : x->topLevels())
      if (w.viewable && w.title == QStringLiteral("О программе")) closed = false;
    sleepMs(20);
  }
  EXPECT_TRUE(closed) << "Escape did not close the dialog";
  EXPECT_TRUE(program->running());
}

}  // namespace
