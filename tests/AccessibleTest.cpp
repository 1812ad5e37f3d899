#include "platform/forms/Accessible.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAccessibleValueInterface>
#include <QApplication>
#include <QKeyEvent>
#include <QSlider>
#include <QTest>

#include "app/Unit1.h"
#include "platform/forms/Controls.h"
#include "platform/forms/PaintBox.h"
#include "tests/Fakes.h"

namespace {

class AccessibleWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    form = app.createForm<TForm1>();
    form->show();
    QApplication::processEvents();
  }

  static QAccessibleInterface* of(QWidget* w) { return QAccessible::queryAccessibleInterface(w); }

  static void press(QWidget* w) {
    QAccessibleActionInterface* actions = of(w)->actionInterface();
    ASSERT_NE(actions, nullptr);
    actions->doAction(QAccessibleActionInterface::pressAction());
  }

  FakeApplication app;
  TForm1* form = nullptr;
};

TEST_F(AccessibleWindow, ControlsHaveTheRolesNamesAndActionsOfWhatTheyDo) {
  const QString press = QAccessibleActionInterface::pressAction();
  const QString increase = QAccessibleActionInterface::increaseAction();
  const QString decrease = QAccessibleActionInterface::decreaseAction();
  struct Case {
    QWidget* widget;
    QAccessible::Role role;
    QString name;
    QStringList actions;  // among those offered
  };
  const Case cases[] = {
      {form->PlusImage1, QAccessible::Button, QStringLiteral("Увеличить масштаб"), {press}},
      {form->MinusImage1, QAccessible::Button, QStringLiteral("Уменьшить масштаб"), {press}},
      {form->TrackBar1, QAccessible::Slider, QStringLiteral("Масштаб"), {increase, decrease}},
      {form->PaintBox1, QAccessible::Graphic, QStringLiteral("Увеличенное изображение"), {}},
  };
  for (const Case& c : cases) {
    QAccessibleInterface* a = of(c.widget);
    ASSERT_NE(a, nullptr) << c.name.toStdString();
    EXPECT_EQ(a->role(), c.role) << c.name.toStdString();
    EXPECT_EQ(a->text(QAccessible::Name), c.name);
    for (const QString& action : c.actions)
      EXPECT_TRUE(a->actionInterface()->actionNames().contains(action))
          << c.name.toStdString() << ": " << action.toStdString();
  }
  EXPECT_TRUE(of(form->PlusImage1)->text(QAccessible::Description).isEmpty())
      << "the hint is the name: not said twice";
}

TEST_F(AccessibleWindow, PressingAButtonDoesWhatAClickDoesAndStopsAtTheLimits) {
  struct Case {
    int from;
    bool plus;
    int to;
  };
  const Case cases[] = {{3, true, 4}, {3, false, 2}, {10, true, 10}, {1, false, 1}, {9, true, 10}};
  for (const Case& c : cases) {
    form->TrackBar1->setValue(c.from);
    press(c.plus ? static_cast<QWidget*>(form->PlusImage1) : form->MinusImage1);
    EXPECT_EQ(form->TrackBar1->value(), c.to) << c.from << (c.plus ? " plus" : " minus");
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Вендрел (x%1)").arg(c.to));
  }
}

TEST_F(AccessibleWindow, TheSliderReadsAsTheCaptionAndTakesItsValueFromTheBridge) {
  QAccessibleInterface* slider = of(form->TrackBar1);
  EXPECT_EQ(slider->text(QAccessible::Value), QStringLiteral("x3"));
  QAccessibleValueInterface* value = slider->valueInterface();
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(value->minimumValue().toInt(), 1);
  EXPECT_EQ(value->maximumValue().toInt(), 10);
  EXPECT_EQ(value->minimumStepSize().toInt(), 1);
  struct Case {
    int set, shown;
  };
  for (const Case c : {Case{7, 7}, Case{25, 10}, Case{0, 1}}) {
    value->setCurrentValue(c.set);
    EXPECT_EQ(value->currentValue().toInt(), c.shown);
    EXPECT_EQ(slider->text(QAccessible::Value), QStringLiteral("x%1").arg(c.shown));
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Вендрел (x%1)").arg(c.shown));
  }
  slider->actionInterface()->doAction(QAccessibleActionInterface::increaseAction());
  EXPECT_EQ(form->TrackBar1->value(), 2);
}

TEST_F(AccessibleWindow, TheViewSaysWhetherItFollowsThePointerOrStandsStill) {
  QAccessibleInterface* view = of(form->PaintBox1);
  EXPECT_EQ(view->text(QAccessible::Description), QStringLiteral("Режим \"Скольжение\""));
  QKeyEvent freeze(QEvent::KeyPress, Qt::Key_Insert, Qt::ControlModifier);
  QApplication::sendEvent(form, &freeze);
  EXPECT_EQ(view->text(QAccessible::Description), QStringLiteral("Режим \"Заморозка\""));
}

}  // namespace
