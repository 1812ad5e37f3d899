#include "platform/forms/Accessible.h"

#include <QAccessibleValueInterface>
#include <QAccessibleWidget>

#include "platform/forms/Controls.h"
#include "platform/forms/Form.h"
#include "platform/forms/PaintBox.h"

namespace {

// A picture that acts when pressed is a push button to those who cannot see it: named with its
// hint, and pressed as a click presses it.
class ImageButtonAccessible final : public QAccessibleWidget {
 public:
  explicit ImageButtonAccessible(Image* image) : QAccessibleWidget(image, QAccessible::Button) {}

  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Name && widget()->accessibleName().isEmpty()) return widget()->toolTip();
    // The hint is the name already: said twice it is only noise.
    if (t == QAccessible::Description && widget()->accessibleDescription().isEmpty()) return {};
    return QAccessibleWidget::text(t);
  }

  QStringList actionNames() const override {
    return QStringList{pressAction()} + QAccessibleWidget::actionNames();
  }

  void doAction(const QString& name) override {
    if (name == pressAction())
      static_cast<Image*>(widget())->press();
    else
      QAccessibleWidget::doAction(name);
  }
};

// The slider, whose value reads as its owner words it.
class TrackBarAccessible final : public QAccessibleWidget, public QAccessibleValueInterface {
 public:
  explicit TrackBarAccessible(TrackBar* slider) : QAccessibleWidget(slider, QAccessible::Slider) {}

  void* interface_cast(QAccessible::InterfaceType t) override {
    if (t == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
    return QAccessibleWidget::interface_cast(t);
  }

  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Value) return slider()->valueText();
    return QAccessibleWidget::text(t);
  }

  QStringList actionNames() const override {
    return QAccessibleWidget::actionNames() + QStringList{increaseAction(), decreaseAction()};
  }

  void doAction(const QString& name) override {
    if (name == increaseAction())
      slider()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    else if (name == decreaseAction())
      slider()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    else
      QAccessibleWidget::doAction(name);
  }

  QVariant currentValue() const override { return slider()->value(); }
  void setCurrentValue(const QVariant& value) override { slider()->setValue(value.toInt()); }
  QVariant maximumValue() const override { return slider()->maximum(); }
  QVariant minimumValue() const override { return slider()->minimum(); }
  QVariant minimumStepSize() const override { return slider()->singleStep(); }

 private:
  TrackBar* slider() const { return static_cast<TrackBar*>(widget()); }
};

QAccessibleInterface* accessibleControl(const QString& className, QObject* object) {
  if (className == QLatin1String("Image"))
    return new ImageButtonAccessible(static_cast<Image*>(object));
  if (className == QLatin1String("TrackBar"))
    return new TrackBarAccessible(static_cast<TrackBar*>(object));
  // A form is a window to a screen reader, whose name (the caption) it announces on a change.
  if (className == QLatin1String("TForm"))
    return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
  // The view is a picture of the screen, not a container of anything.
  if (className == QLatin1String("PaintBox"))
    return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Graphic);
  return nullptr;
}

}  // namespace

void installAccessibleControls() {
  QAccessible::installFactory(accessibleControl);  // a second install is ignored
}
