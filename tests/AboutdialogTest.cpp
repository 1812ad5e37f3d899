#include "about/Aboutdialog.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QGroupBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "about/Wmessage.h"
#include "app/Unit1.h"
#include "platform/forms/Controls.h"
#include "tests/Fakes.h"

namespace {

TEST(VersionCaption, DateFromTheLastSixCharacters) {
  EXPECT_EQ(versionCaption(QStringLiteral("1.00.060914")),
            QStringLiteral("Версия 1.00.060914  от 14-09-2006г."));
  EXPECT_EQ(versionCaption(QStringLiteral("2.3.251207")),
            QStringLiteral("Версия 2.3.251207  от 07-12-2025г."));
  EXPECT_EQ(versionCaption(QStringLiteral("0912")), QStringLiteral("Версия 0912  от -12-2009г."))
      << "a short version: the parts past its end are empty";
}

TEST(WMessage, ComputerNameFitsIsCutOrIsUnknown) {
  FakeSystemInfo system;
  WMessage message(system);
  EXPECT_EQ(message.Description,
            QStringLiteral("WMessage: Класс для работы с системными сообщениями"));
  EXPECT_EQ(message.ComputerName(), QStringLiteral("workstation-7"));
  system.name = QByteArray(63, 'a');
  EXPECT_EQ(message.ComputerName(), QString(63, u'a')) << "63 bytes and the terminator fit";
  system.name = QByteArray(64, 'b');
  EXPECT_EQ(message.ComputerName(), QString(63, u'b') + QStringLiteral("…"));
  system.fails = true;
  EXPECT_EQ(message.ComputerName(), QStringLiteral("неизвестно"));
}

class About : public ::testing::Test {
 protected:
  void SetUp() override {
    form = app.createForm<TForm1>();
    form->show();
    QApplication::processEvents();
  }
  // Runs `inside` once the modal dialog the next call opens is up.
  void whileModal(std::function<void(TAboutDialog1*)> inside) {
    QTimer::singleShot(
        0, [inside] { inside(dynamic_cast<TAboutDialog1*>(QApplication::activeModalWidget())); });
  }

  FakeApplication app;
  TForm1* form = nullptr;
};

TEST_F(About, LayoutAndStartState) {
  TAboutDialog1 dialog(form, app);
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("О программе"));
  EXPECT_EQ(dialog.size(), QSize(265, 425));
  EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize()) << "not resizable";
  EXPECT_FALSE(dialog.windowFlags() &
               (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
  EXPECT_EQ(dialog.Panel3->text(), QStringLiteral("Вендрел"));
  EXPECT_EQ(dialog.BitBtn1->text(), QStringLiteral("Закрыть"));
  EXPECT_TRUE(dialog.BitBtn1->isDefault());
  EXPECT_EQ(dialog.EMailLabel1->geometry(), QRect(114, 232, 127, 21));
  EXPECT_TRUE(dialog.InternetLabel1->font().underline());
  EXPECT_EQ(dialog.InternetLabel1->cursor().shape(), Qt::PointingHandCursor);
  int focusable = 0;
  for (QWidget* w : dialog.findChildren<QWidget*>()) focusable += w->focusPolicy() != Qt::NoFocus;
  EXPECT_EQ(focusable, 1) << "only the button takes the focus";
}

TEST_F(About, LinksOpenTheirOwnTargets) {
  TAboutDialog1 dialog(form, app);
  dialog.show();
  QTest::mouseClick(dialog.InternetLabel1, Qt::LeftButton);
  QTest::mouseClick(dialog.Label12, Qt::LeftButton);
  QTest::mouseClick(dialog.EMailLabel1, Qt::LeftButton);
  QTest::mouseClick(dialog.Label8, Qt::LeftButton);  // not a link
  const std::vector<std::pair<QWidget*, QString>> expected{
      {form, dialog.InternetLabel1->text()},
      {form, dialog.Label12->text()},
      {form, QStringLiteral("mailto:") + dialog.EMailLabel1->text()}};
  EXPECT_EQ(app.fakeShell.opened, expected);
  EXPECT_FALSE(dialog.InternetLabel1->text().isEmpty());
  EXPECT_NE(dialog.InternetLabel1->text(), dialog.Label12->text());
}

TEST_F(About, ActivationShowsTheComputerName) {
  app.fakeSystem.name = "pc-42";
  TAboutDialog1 dialog(form, app);
  QEvent activate(QEvent::WindowActivate);
  QApplication::sendEvent(&dialog, &activate);
  EXPECT_EQ(dialog.UserLabel1->text(), QStringLiteral("Пользователь: pc-42"));
  app.fakeSystem.fails = true;
  QApplication::sendEvent(&dialog, &activate);
  EXPECT_EQ(dialog.UserLabel1->text(), QStringLiteral("Пользователь: неизвестно")) << "every time";
}

TEST_F(About, EscapeClosesWithCancelAndEnterWithOk) {
  {
    TAboutDialog1 dialog(form, app);
    whileModal([](TAboutDialog1* d) {
      ASSERT_NE(d, nullptr);
      QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : d,
                      Qt::Key_Escape);
    });
    EXPECT_EQ(dialog.ShowModal(), TForm::mrCancel);
  }
  {
    TAboutDialog1 dialog(form, app);
    whileModal([](TAboutDialog1* d) {
      ASSERT_NE(d, nullptr);
      EXPECT_EQ(d->focusWidget(), d->BitBtn1) << "the button has the focus";
      QTest::keyClick(d->BitBtn1, Qt::Key_Return);
    });
    EXPECT_EQ(dialog.ShowModal(), TForm::mrOk);
  }
}

TEST_F(About, CommandShowsVersionAndTheTimerKeepsTicking) {
  QString version;
  int ticksWhileOpen = 0;
  const int before = app.fakeScreen.pointerQueries;
  // The dialog stays up until the view has ticked a few times behind it, however long a busy
  // machine takes to get there.
  QDeadlineTimer patience(30000);
  QTimer watch;
  watch.setInterval(10);
  QObject::connect(&watch, &QTimer::timeout, [&] {
    auto* d = dynamic_cast<TAboutDialog1*>(QApplication::activeModalWidget());
    if (!d) return;
    ticksWhileOpen = app.fakeScreen.pointerQueries - before;
    if (ticksWhileOpen < 4 && !patience.hasExpired()) return;
    version = d->VersionLabel1->text();
    watch.stop();
    d->close();
  });
  watch.start();
  form->AboutItem1->trigger();
  EXPECT_EQ(version, QStringLiteral("Версия 1.00.060914  от 14-09-2006г."));
  EXPECT_GE(ticksWhileOpen, 4) << "the view's ticks go on behind the dialog";
  int dialogsLeft = 0;
  for (const QWidget* w : form->findChildren<QWidget*>())
    dialogsLeft += w->isWindow() && w->windowTitle() == QStringLiteral("О программе");
  EXPECT_EQ(dialogsLeft, 0) << "destroyed right after";
}

TEST_F(About, EscapeInTheMainWindowDoesNothing) {
  QTest::keyClick(form, Qt::Key_Escape);
  EXPECT_TRUE(form->isVisible());
  EXPECT_FALSE(form->frozen());
}

}  // namespace

namespace {

// The style keeps pictures of the controls it draws under their palette's key: dialogs that
// share the key share the pictures, instead of adding their own each time one opens.
TEST_F(About, EachDialogDrawsWithTheSamePaletteKeyAsTheLast) {
  qint64 first = 0;
  {
    TAboutDialog1 dialog(form, app);
    first = dialog.BitBtn1->palette().cacheKey();
  }
  TAboutDialog1 dialog(form, app);
  EXPECT_EQ(dialog.BitBtn1->palette().cacheKey(), first);
  EXPECT_EQ(dialog.palette().color(QPalette::Window), dialog.palette().color(QPalette::Button));
  EXPECT_EQ(dialog.palette().color(QPalette::WindowText), QColor(Qt::black));
}

}  // namespace
