#include "platform/forms/Form.h"

#include <QAccessible>
#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QScreen>

#include "platform/pixels/DeviceScale.h"

int virtualKey(int qtKey) {
  switch (qtKey) {
    case Qt::Key_Escape:
      return vk::Escape;
    case Qt::Key_Insert:
      return vk::Insert;
    default:
      break;
  }
  if ((qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) || (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z))
    return qtKey;
  return 0;
}

TForm::TForm(QWidget* parent, Qt::WindowFlags flags) : QWidget(parent, flags | Qt::Window) {}

TForm::~TForm() {
  setKeyPreview(false);
}

QMargins TForm::frame() const {
  const QRect outer = frameGeometry();
  const QRect inner = geometry();
  return {inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
          outer.bottom() - inner.bottom()};
}

QRect TForm::bounds() const {
  return frameGeometry();
}

void TForm::setBounds(const QRect& outer) {
  const QMargins m = frame();
  if (isVisible() && !m.isNull())
    pending_.reset();
  else
    pending_ = outer;
  appliedWith_ = m;
  move(outer.topLeft());  // a top-level's position is that of its frame
  resize(outer.width() - m.left() - m.right(), outer.height() - m.top() - m.bottom());
}

void TForm::setLeft(int left) {
  QRect b = bounds();
  b.moveLeft(left);
  setBounds(b);
}

void TForm::setTop(int top) {
  QRect b = bounds();
  b.moveTop(top);
  setBounds(b);
}

void TForm::setWidth(int width) {
  QRect b = bounds();
  b.setWidth(width);
  setBounds(b);
}

void TForm::setHeight(int height) {
  QRect b = bounds();
  b.setHeight(height);
  setBounds(b);
}

void TForm::setKeyPreview(bool on) {
  if (on == keyPreview_) return;
  keyPreview_ = on;
  if (on)
    qApp->installEventFilter(this);
  else
    qApp->removeEventFilter(this);
}

bool TForm::eventFilter(QObject* watched, QEvent* event) {
  const auto type = event->type();
  if ((type == QEvent::KeyPress || type == QEvent::KeyRelease) && watched->isWidgetType()) {
    // An ignored key travels up to the parents, passing the application's filters each time:
    // only its first receiver (the focus widget, or the form itself) counts.
    auto* target = static_cast<QWidget*>(watched);
    QWidget* first = QApplication::focusWidget();
    if (!first || first->window() != this) first = this;
    if (target == first && target->window() == this) {
      auto* key = static_cast<QKeyEvent*>(event);
      if (type == QEvent::KeyPress)
        FormKeyDown(virtualKey(key->key()), key->modifiers());
      else if (!key->isAutoRepeat())
        FormKeyUp(virtualKey(key->key()), key->modifiers());
    }
  }
  return QWidget::eventFilter(watched, event);
}

bool TForm::event(QEvent* event) {
  const auto type = event->type();
  if (type == QEvent::WindowActivate) FormActivate();
  if (type == QEvent::WindowTitleChange) {
    // Qt keeps a new caption from the accessibility bus: a screen reader hears of it this way.
    QAccessibleEvent renamed(this, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&renamed);
  }
  const bool handled = QWidget::event(event);
  if (pending_ && isVisible() &&
      (type == QEvent::Show || type == QEvent::Move || type == QEvent::Resize) &&
      frame() != appliedWith_)
    setBounds(*pending_);
  return handled;
}

void TForm::closeEvent(QCloseEvent* event) {
  FormClose();
  event->accept();
  if (modalLoop_) {
    if (modalResult_ == mrNone) modalResult_ = mrCancel;
    modalLoop_->quit();
  }
}

int TForm::ShowModal() {
  modalResult_ = mrNone;
  setWindowModality(Qt::ApplicationModal);
  QEventLoop loop;
  modalLoop_ = &loop;
  show();
  raise();
  activateWindow();
  loop.exec(QEventLoop::DialogExec);  // the program's timers go on ticking meanwhile
  modalLoop_ = nullptr;
  hide();
  return modalResult_;
}

void TForm::setModalResult(int result) {
  modalResult_ = result;
  if (modalLoop_ && result != mrNone) close();
}

namespace {

QPoint originOf(const QWidget& widget) {
  const QScreen* screen = widget.screen();
  return screen ? screen->geometry().topLeft() : QPoint();
}

}  // namespace

Rect toDevice(const QWidget& widget, const QRect& logical) {
  return toDevice(logical, originOf(widget), widget.devicePixelRatioF());
}

Rect toLogical(const QWidget& widget, const Rect& device) {
  return toLogical(device, originOf(widget), widget.devicePixelRatioF());
}
