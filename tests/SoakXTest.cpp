#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>

#include "app/Unit1.h"
#include "platform/forms/PaintBox.h"
#include "platform/x11/X11Display.h"
#include "tests/Fakes.h"
#include "tests/OnX.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool Sanitized = true;  // the sanitizer keeps freed memory aside: sizes mean nothing
#else
constexpr bool Sanitized = false;
#endif

long residentKb() {
  QFile statm(QStringLiteral("/proc/self/statm"));
  if (!statm.open(QIODevice::ReadOnly)) return 0;
  return statm.readAll().split(' ').value(1).toLong() * (sysconf(_SC_PAGESIZE) / 1024);
}

// The main window on the real display, its ticks driven one after another as fast as they go:
// a long day's work in a minute. Leaks show under the sanitizers; in the normal build the
// resident size must stay flat.
TEST(Soak, AHundredThousandTicksLeaveNothingBehind) {
  QTemporaryDir folder;
  QDir(folder.path()).mkdir(QStringLiteral("Vendrel"));
  FakeApplication app(OnX::ScreenWidth, OnX::ScreenHeight,
                      folder.filePath(QStringLiteral("vendrel")));
  const auto display = openX11Display();
  app.realScreen = createX11Source(display);
  app.realSurfaces = [display] { return createX11Surface(display); };
  TForm1* form = app.createForm<TForm1>();
  form->Timer1->stop();  // this test ticks it
  form->show();
  QApplication::processEvents();
  OnX::x->sync();

  auto freezeKey = [&] {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Insert, Qt::ControlModifier);
    QApplication::sendEvent(form, &press);
  };
  constexpr int Ticks = 100'000;
  long settled = 0, highest = 0;
  for (int tick = 0; tick < Ticks; ++tick) {
    if (tick % 2 == 0) {
      // Over the desktop mostly, now and then over the window itself (the blank view).
      const QRect window = form->frameGeometry();
      const QPoint p = tick % 500 < 25 ? window.center()
                                       : QPoint((tick * 7) % (OnX::ScreenWidth - 300),
                                                (tick * 3) % OnX::ScreenHeight);
      OnX::x->movePointer(p.x(), p.y());
    }
    if (tick % 97 == 0) form->TrackBar1->setValue(1 + (tick / 97) % 10);
    if (tick % 211 == 0) freezeKey();
    form->Timer1Timer();
    if (tick % 10 == 0) QApplication::processEvents();
    if (tick == 1000) settled = residentKb();
    if (tick > 1000) highest = std::max(highest, residentKb() * (tick % 1000 == 0));
  }
  form->close();
  RecordProperty("resident_kb_after_1000_ticks", static_cast<int>(settled));
  RecordProperty("resident_kb_highest_after", static_cast<int>(highest));
  std::printf("resident size: %ld kB after 1000 ticks, at most %ld kB after %d\n", settled, highest,
              Ticks);
  if (!Sanitized) {
    EXPECT_LE(highest - settled, 1024) << "kB grown";
  }
}

}  // namespace
