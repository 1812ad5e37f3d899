#include "app/Unit1.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QMenu>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <functional>

#include "platform/forms/Controls.h"
#include "platform/forms/PaintBox.h"
#include "tests/Enlargement.h"
#include "tests/Fakes.h"
#include "tools/XSession.h"

namespace {

class MainWindow : public ::testing::Test {
 protected:
  explicit MainWindow(int width = 1024, int height = 768) : app(width, height) {}

  void SetUp() override {
    form = app.createForm<TForm1>();
    form->show();
    QApplication::setActiveWindow(form);
    QApplication::processEvents();
  }

  FakeScreen& desktop() { return app.fakeScreen; }
  int zoom() const { return form->TrackBar1->value(); }

  // What the view shows after one tick, as painted.
  QImage tick() {
    form->Timer1Timer();
    return form->PaintBox1->grab().toImage().convertToFormat(QImage::Format_RGB32);
  }

  // Every view pixel is the source pixel that nearest-neighbour enlargement of `source` puts
  // there; a message names the first one that is not.
  ::testing::AssertionResult showsSource(const QImage& view, const Rect& source) {
    const QString difference =
        checkEnlargement(view, source, desktop().picture.width(), Match::Exact);
    if (difference.isEmpty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << difference.toStdString();
  }

  ::testing::AssertionResult blank(const QImage& view) {
    const QRgb face = form->palette().color(QPalette::Button).rgb();
    for (int y = 0; y < view.height(); ++y)
      for (int x = 0; x < view.width(); ++x)
        if (view.pixel(x, y) != face)
          return ::testing::AssertionFailure() << "pixel (" << x << "," << y << ") not blank";
    return ::testing::AssertionSuccess();
  }

  void key(int qtKey, Qt::KeyboardModifiers mods, bool autoRepeat = false) {
    QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : form;
    QKeyEvent press(QEvent::KeyPress, qtKey, mods, QString(), autoRepeat);
    QApplication::sendEvent(target, &press);
  }

  FakeApplication app;
  TForm1* form = nullptr;
};

TEST_F(MainWindow, OpensWithTheDefaults) {
  EXPECT_EQ(form->bounds(), QRect(744, 39, 280, 298));
  EXPECT_EQ(zoom(), 3);
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Вендрел (x3)"));
  EXPECT_EQ(form->StatusPanel1->text(), QStringLiteral(" Режим \"Скольжение\""));
  EXPECT_TRUE(form->ScalePanelVisibleItem1->isChecked());
  EXPECT_TRUE(form->ScalePanel1->isVisible());
  EXPECT_EQ(AppTitle, QStringLiteral("Вендрел"));
  EXPECT_EQ(app.title(), QStringLiteral("Вендрел"));
  EXPECT_EQ(AppExeName, QStringLiteral("/opt/tools/vendrel"));
  EXPECT_EQ(form->iniFileName(), QStringLiteral("/opt/tools/Vendrel/Vendrel.ini"));
  EXPECT_EQ(app.helpFile(), QStringLiteral("/opt/tools/Vendrel/vendrel.hlp"));
  EXPECT_EQ(form->version(), QStringLiteral("1.00.060914"));
  EXPECT_TRUE(form->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  // The view fills the client area above the 83-pixel panel, inside a one-pixel bevel.
  EXPECT_EQ(form->PaintBox1->size(), QSize(form->width() - 2, form->height() - 83 - 2));
  EXPECT_EQ(form->PaintBox1->mapTo(form, QPoint(0, 0)), QPoint(1, 1));
}

// Lets the timer tick until `done`, however long a busy machine takes to get there.
void settle(const std::function<bool()>& done) {
  QDeadlineTimer patience(30000);
  while (!done() && !patience.hasExpired()) QTest::qWait(10);
}

TEST_F(MainWindow, TicksRestWhileTheDesktopIsStillAndWakeAtItsNextChange) {
  desktop().reports = true;
  settle([&] { return form->resting(); });
  ASSERT_TRUE(form->resting());
  EXPECT_FALSE(form->Timer1->isActive());
  ASSERT_TRUE(desktop().wake) << "the desktop is watched meanwhile";

  const int queries = desktop().pointerQueries;
  desktop().pointerAt = {420, 330};
  desktop().changes = true;
  desktop().wake();
  QApplication::processEvents();
  EXPECT_FALSE(form->resting());
  EXPECT_TRUE(form->Timer1->isActive());
  EXPECT_FALSE(desktop().wake) << "no longer watched";
  EXPECT_EQ(desktop().pointerQueries, queries + 1) << "a tick at once";
  const int w = form->PaintBox1->width(), h = form->PaintBox1->height();
  const int hw = (w / 3) / 2, hh = (h / 3) / 2;
  EXPECT_TRUE(showsSource(form->PaintBox1->grab().toImage().convertToFormat(QImage::Format_RGB32),
                          {420 - hw, 330 - hh, 420 + hw, 330 + hh}));
  settle([&] { return form->resting(); });
  EXPECT_TRUE(form->resting()) << "and rest again once nothing changes";
}

TEST_F(MainWindow, WhatIsDoneToTheWindowWakesTheTicks) {
  desktop().reports = true;
  const std::pair<const char*, std::function<void()>> actions[] = {
      {"the freeze key", [&] { key(Qt::Key_Insert, Qt::ControlModifier); }},
      {"a zoom button", [&] { QTest::mouseClick(form->PlusImage1, Qt::LeftButton); }},
      {"the slider's keys",
       [&] {
         form->TrackBar1->setFocus();
         key(Qt::Key_Left, Qt::NoModifier);
       }},
      {"a move", [&] { form->setLeft(form->Left() - 40); }},
      {"a resize", [&] { form->setHeight(form->Height() - 30); }},
  };
  for (const auto& [what, action] : actions) {
    settle([&] { return form->resting(); });
    ASSERT_TRUE(form->resting()) << what;
    const int queries = desktop().pointerQueries;
    action();
    QApplication::processEvents();
    EXPECT_EQ(desktop().pointerQueries, queries + 1) << what << ": a tick at once";
  }
}

TEST_F(MainWindow, TheKeyboardLeadsTheViewAndWakesItOnlyToMoveWhereThereIsABus) {
  form->FollowCaretItem1->trigger();
  ASSERT_TRUE(app.fakeAttention.caret && app.fakeAttention.seen);
  desktop().reports = true;
  const int hw = (form->PaintBox1->width() / 3) / 2, hh = (form->PaintBox1->height() / 3) / 2;
  const Sighting caret{Sighting::Caret, {100, 200, 108, 217}, false};
  for (const bool again : {false, true}) {
    settle([&] { return form->resting(); });
    const int queries = desktop().pointerQueries;
    app.fakeAttention.seen(caret);
    QApplication::processEvents();
    EXPECT_EQ(desktop().pointerQueries, queries + (again ? 0 : 1)) << "a tick at once, once";
  }
  EXPECT_TRUE(showsSource(form->PaintBox1->grab().toImage().convertToFormat(QImage::Format_RGB32),
                          {104 - hw, 208 - hh, 104 + hw, 208 + hh}));
  desktop().pointerAt = {420, 330};
  EXPECT_TRUE(showsSource(tick(), {420 - hw, 330 - hh, 420 + hw, 330 + hh})) << "the pointer";
  key(Qt::Key_Insert, Qt::ControlModifier);
  tick();
  app.fakeAttention.seen({Sighting::Caret, {700, 600, 708, 617}, false});
  EXPECT_TRUE(showsSource(tick(), {420 - hw, 330 - hh, 420 + hw, 330 + hh})) << "frozen";

  app.fakeAttention.unavailable(QStringLiteral("Нет шины"));
  for (const QAction* item : {form->FollowFocusItem1, form->FollowCaretItem1}) {
    EXPECT_FALSE(item->isEnabled());
    EXPECT_EQ(item->toolTip(), QStringLiteral("Нет шины"));
  }
}

TEST_F(MainWindow, WithoutChangeReportsTheTicksNeverRest) {
  const int queries = desktop().pointerQueries;
  settle([&] { return desktop().pointerQueries >= queries + 3; });
  EXPECT_FALSE(form->resting());
  EXPECT_TRUE(form->Timer1->isActive());
  EXPECT_FALSE(desktop().wake);
}

TEST_F(MainWindow, WhatKeepsTheViewFromFollowingShowsInTheStatusStripWhileItLasts) {
  ASSERT_TRUE(desktop().report) << "the form tells the desktop where to report";
  const QString trouble = QStringLiteral("Рабочий стол не сообщает, где указатель");
  desktop().report(trouble);
  EXPECT_EQ(form->StatusPanel1->text(), QLatin1Char(' ') + trouble);
  EXPECT_EQ(form->StatusPanel1->toolTip(), trouble);
  key(Qt::Key_Insert, Qt::ControlModifier);
  EXPECT_EQ(form->StatusPanel1->text(), QLatin1Char(' ') + trouble) << "the freeze key keeps it";
  desktop().report(QString());
  EXPECT_EQ(form->StatusPanel1->text(), QStringLiteral(" Режим \"Заморозка\"")) << "over";
  EXPECT_TRUE(form->StatusPanel1->toolTip().isEmpty());
}

TEST_F(MainWindow, FirstPictureComesWithTheWindowNotATickLater) {
  form->Timer1->stop();  // only the show may draw now
  form->hide();
  const int binds = desktop().binds;
  form->show();
  QApplication::processEvents();
  EXPECT_EQ(desktop().binds, binds + 1);
}

TEST_F(MainWindow, ViewShowsTheEnlargedSourceAtEachZoom) {
  const int w = form->PaintBox1->width(), h = form->PaintBox1->height();
  desktop().pointerAt = {400, 300};
  for (int z : {1, 3, 4, 10}) {
    form->TrackBar1->setValue(z);
    const int hw = (w / z) / 2, hh = (h / z) / 2;
    EXPECT_TRUE(showsSource(tick(), {400 - hw, 300 - hh, 400 + hw, 300 + hh})) << "zoom " << z;
  }
}

TEST_F(MainWindow, SourceIsClampedAtTheScreenEdges) {
  const int w = form->PaintBox1->width(), h = form->PaintBox1->height();
  const int hw = (w / 3) / 2, hh = (h / 3) / 2;
  desktop().pointerAt = {2, 3};
  EXPECT_TRUE(showsSource(tick(), {0, 0, 2 * hw, 2 * hh}));
  desktop().pointerAt = {700, 767};
  EXPECT_TRUE(showsSource(tick(), {700 - hw, 768 - 2 * hh, 700 + hw, 768}));
}

TEST_F(MainWindow, ViewIsBlankOverItsOwnWindowUpToTheRightEdge) {
  form->setBounds({500, 39, 280, 298});
  QApplication::processEvents();
  const int readsBefore = desktop().binds;
  desktop().pointerAt = {600, 100};
  EXPECT_TRUE(blank(tick()));
  desktop().pointerAt = {779, 336};  // last column and row of the window
  EXPECT_TRUE(blank(tick()));
  EXPECT_EQ(desktop().binds, readsBefore) << "the screen is not read over the window";
  desktop().pointerAt = {780, 100};  // first column right of the window
  EXPECT_FALSE(blank(tick()));
  EXPECT_EQ(desktop().binds, readsBefore + 1);
}

TEST_F(MainWindow, CtrlInsertVariantsToggleFreeze) {
  struct Case {
    const char* what;
    int key;
    Qt::KeyboardModifiers mods;
    bool toggles;
  };
  const Case cases[] = {
      {"Ctrl+Insert", Qt::Key_Insert, Qt::ControlModifier, true},
      {"keypad Insert with Ctrl", Qt::Key_Insert, Qt::ControlModifier | Qt::KeypadModifier, true},
      {"Ctrl+Shift+Insert", Qt::Key_Insert, Qt::ControlModifier | Qt::ShiftModifier, true},
      {"Ctrl+Alt+Insert", Qt::Key_Insert, Qt::ControlModifier | Qt::AltModifier, true},
      {"Insert alone", Qt::Key_Insert, Qt::NoModifier, false},
      {"Shift+Insert", Qt::Key_Insert, Qt::ShiftModifier, false},
      {"Ctrl+minus (Qt's code 45)", Qt::Key_Minus, Qt::ControlModifier, false},
  };
  for (const auto& c : cases) {
    const bool before = form->frozen();
    key(c.key, c.mods);
    EXPECT_EQ(form->frozen(), before != c.toggles) << c.what;
    EXPECT_EQ(form->StatusPanel1->text(), form->frozen() ? QStringLiteral(" Режим \"Заморозка\"")
                                                         : QStringLiteral(" Режим \"Скольжение\""))
        << c.what;
  }
}

TEST_F(MainWindow, EachAutoRepeatTogglesAndTheKeyReachesTheFocusedControl) {
  form->TrackBar1->setFocus();
  QApplication::processEvents();
  int reached = 0;
  struct Counter : QObject {
    int& n;
    explicit Counter(int& count) : n(count) {}
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::KeyPress) ++n;
      return false;
    }
  } counter(reached);
  form->TrackBar1->installEventFilter(&counter);
  key(Qt::Key_Insert, Qt::ControlModifier);
  key(Qt::Key_Insert, Qt::ControlModifier, true);
  key(Qt::Key_Insert, Qt::ControlModifier, true);
  EXPECT_TRUE(form->frozen()) << "three presses, three toggles";
  EXPECT_EQ(reached, 3) << "the key is not consumed";
  form->TrackBar1->removeEventFilter(&counter);
}

TEST_F(MainWindow, FrozenPointIsTheFirstPointerAfterFreezing) {
  const int w = form->PaintBox1->width(), h = form->PaintBox1->height();
  const int hw = (w / 3) / 2, hh = (h / 3) / 2;
  desktop().pointerAt = {300, 300};
  key(Qt::Key_Insert, Qt::ControlModifier);
  EXPECT_EQ(form->frozenPoint(), QPoint(-32000, -32000)) << "pending until the next tick";
  tick();
  EXPECT_EQ(form->frozenPoint(), QPoint(300, 300));
  desktop().pointerAt = {800, 100};  // over the window: the frozen point decides
  EXPECT_TRUE(showsSource(tick(), {300 - hw, 300 - hh, 300 + hw, 300 + hh}));
  key(Qt::Key_Insert, Qt::ControlModifier);
  EXPECT_EQ(form->frozenPoint(), QPoint(-32000, -32000));
  EXPECT_TRUE(blank(tick())) << "sliding again, over the window";
}

TEST_F(MainWindow, FreezingOverTheWindowKeepsTheViewBlank) {
  desktop().pointerAt = {800, 100};
  key(Qt::Key_Insert, Qt::ControlModifier);
  EXPECT_TRUE(blank(tick()));
  desktop().pointerAt = {100, 100};
  EXPECT_TRUE(blank(tick())) << "the frozen point lies in the window";
  form->setBounds({0, 300, 280, 298});  // moved away from the point
  QApplication::processEvents();
  EXPECT_FALSE(blank(tick()));
}

TEST_F(MainWindow, ZoomButtonsStopAtTheLimits) {
  QTest::mouseClick(form->PlusImage1, Qt::LeftButton);
  EXPECT_EQ(zoom(), 4);
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Вендрел (x4)"));
  QTest::mousePress(form->PlusImage1, Qt::RightButton);
  EXPECT_EQ(zoom(), 5) << "any button";
  for (int i = 0; i < 8; ++i) QTest::mouseClick(form->PlusImage1, Qt::LeftButton);
  EXPECT_EQ(zoom(), 10);
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Вендрел (x10)"));
  for (int i = 0; i < 12; ++i) QTest::mouseClick(form->MinusImage1, Qt::MiddleButton);
  EXPECT_EQ(zoom(), 1);
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Вендрел (x1)"));
}

TEST_F(MainWindow, HidingThePanelKeepsTheViewSize) {
  const QSize view = form->PaintBox1->size();
  form->ScalePanelVisibleItem1->trigger();
  QApplication::processEvents();
  EXPECT_EQ(form->Height(), 215);
  EXPECT_FALSE(form->ScalePanel1->isVisible());
  EXPECT_FALSE(form->ScalePanelVisibleItem1->isChecked());
  EXPECT_EQ(form->PaintBox1->size(), view);
  form->ScalePanelVisibleItem1->trigger();
  QApplication::processEvents();
  EXPECT_EQ(form->Height(), 298);
  EXPECT_TRUE(form->ScalePanel1->isVisible());
  EXPECT_TRUE(form->ScalePanelVisibleItem1->isChecked());
  EXPECT_EQ(form->PaintBox1->size(), view);
}

TEST_F(MainWindow, ContextMenuHasItsEntriesInOrderWithTheirKeys) {
  const auto actions = form->PopupMenu1->actions();
  const QStringList captions{QStringLiteral("Панель инструментов"),
                             QStringLiteral("Следовать за фокусом клавиатуры"),
                             QStringLiteral("Следовать за текстовым курсором"),
                             QString(),
                             QStringLiteral("Цвета"),
                             QStringLiteral("Сглаживание"),
                             QStringLiteral("Копировать изображение"),
                             QStringLiteral("Сохранить изображение…"),
                             QString(),
                             QStringLiteral("Справка..."),
                             QString(),
                             QStringLiteral("О программе...")};
  const QStringList keys{
      {}, {}, {}, {}, {}, {}, QStringLiteral("Ctrl+C"), QStringLiteral("Ctrl+S")};
  ASSERT_EQ(actions.size(), captions.size());
  for (int i = 0; i < captions.size(); ++i) {
    EXPECT_EQ(actions[i]->isSeparator(), captions[i].isEmpty()) << i;
    EXPECT_EQ(actions[i]->text(), captions[i]) << i;
    EXPECT_EQ(actions[i]->shortcut().toString(), keys.value(i)) << i;
  }
  QStringList colours;
  for (const QAction* a : actions[4]->menu()->actions()) colours << a->text();
  EXPECT_EQ(colours, QStringList({QStringLiteral("Обычные"), QStringLiteral("Обращённые\tCtrl+I"),
                                  QStringLiteral("Оттенки серого"),
                                  QStringLiteral("Обращённые оттенки серого\tCtrl+I")}));
}

TEST_F(MainWindow, HelpAsksForTheContentsOfTheHelpFile) {
  form->HelpItem1->trigger();
  ASSERT_EQ(app.helpCalls.size(), 1u);
  EXPECT_EQ(app.helpCalls[0], std::make_pair(3, 0));
}

TEST_F(MainWindow, AFailedTickIsSwallowedAndTheNextRunsNormally) {
  const QImage before = tick();
  desktop().pointerFails = true;
  EXPECT_EQ(tick(), before);
  desktop().pointerFails = false;
  desktop().captureFails = true;
  desktop().pointerAt = {100, 600};
  tick();
  EXPECT_EQ(desktop().binds, desktop().releases) << "the context is given back on failure";
  desktop().captureFails = false;
  const int w = form->PaintBox1->width(), h = form->PaintBox1->height();
  EXPECT_TRUE(showsSource(
      tick(), {100 - (w / 3) / 2, 600 - (h / 3) / 2, 100 + (w / 3) / 2, 600 + (h / 3) / 2}));
}

std::vector<QString> appWarnings;

TEST_F(MainWindow, FailedTicksAreToldInTheLogOnceInAWhile) {
  appWarnings.clear();
  const QtMessageHandler previous = qInstallMessageHandler(
      [](QtMsgType type, const QMessageLogContext& context, const QString& m) {
        if (type == QtWarningMsg && QByteArray(context.category) == "vendrel.app")
          appWarnings.push_back(m);
      });
  desktop().pointerFails = true;
  for (int i = 0; i < 5; ++i) tick();
  qInstallMessageHandler(previous);
  ASSERT_EQ(appWarnings.size(), 1u);
  EXPECT_TRUE(appWarnings[0].contains(QStringLiteral("no pointer")))
      << appWarnings[0].toStdString();
}

TEST_F(MainWindow, ATickFailingWithWhatIsNoStdExceptionIsNotSwallowed) {
  ASSERT_TRUE(form->Timer1->isActive());
  desktop().pointerThrowsForeign = true;
  EXPECT_THROW(form->Timer1Timer(), int);
  EXPECT_FALSE(form->Timer1->isActive()) << "one box, not one a tick";
}

TEST_F(MainWindow, NothingIsReadWhileMinimisedOrAfterClose) {
  form->showMinimized();
  QApplication::processEvents();
  const int queries = desktop().pointerQueries;
  form->Timer1Timer();
  EXPECT_EQ(desktop().pointerQueries, queries);
  form->showNormal();
  QApplication::processEvents();
  const int restored = desktop().pointerQueries;
  form->Timer1Timer();
  EXPECT_EQ(desktop().pointerQueries, restored + 1);
  form->close();
  form->Timer1Timer();
  EXPECT_EQ(desktop().pointerQueries, restored + 1);
}

// Two monitors, the primary right of the origin: the view clamps at the edges of the monitor
// that holds the point.
class TwoMonitors : public MainWindow {
 protected:
  TwoMonitors() : MainWindow(2048, 768) {
    desktop().monitorList = {{1024, 0, 2048, 768}, {0, 0, 1024, 768}};
  }
};

TEST_F(TwoMonitors, ViewFollowsThePointOntoEitherMonitor) {
  const int w = form->PaintBox1->width(), h = form->PaintBox1->height();
  const int hw = (w / 3) / 2, hh = (h / 3) / 2;
  EXPECT_EQ(form->Left(), 2048 - 280) << "the default touches the primary's right edge";
  form->setBounds({1700, 400, 280, 298});
  QApplication::processEvents();
  desktop().pointerAt = {1030, 5};
  EXPECT_TRUE(showsSource(tick(), {1024, 0, 1024 + 2 * hw, 2 * hh}));
  desktop().pointerAt = {1020, 760};
  EXPECT_TRUE(showsSource(tick(), {1024 - 2 * hw, 768 - 2 * hh, 1024, 768}));
  desktop().pointerAt = {3, 300};
  EXPECT_TRUE(showsSource(tick(), {0, 300 - hh, 2 * hw, 300 + hh}));
}

}  // namespace
