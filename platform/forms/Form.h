#pragma once

#include <QMargins>
#include <QRect>
#include <QWidget>
#include <optional>

#include "platform/forms/Keys.h"
#include "platform/pixels/Rect.h"

// Virtual key of a Qt key event: Insert also for the keypad's Insert, Escape, digits and
// letters as their ASCII capitals; 0 for keys no handler looks at.
int virtualKey(int qtKey);

// The framework's form: a top-level window whose bounds are those of its outer frame, with
// optional key preview and the form-level handlers as virtual hooks.
class TForm : public QWidget {
  Q_OBJECT

 public:
  explicit TForm(QWidget* parent = nullptr, Qt::WindowFlags flags = {});
  ~TForm() override;

  // Outer frame in screen pixels: the window manager's frame included where there is one.
  QRect bounds() const;
  void setBounds(const QRect& outer);
  int Left() const { return bounds().x(); }
  int Top() const { return bounds().y(); }
  int Width() const { return bounds().width(); }
  int Height() const { return bounds().height(); }
  void setLeft(int left);
  void setTop(int top);
  void setWidth(int width);
  void setHeight(int height);

  // With key preview on, the form's key handlers see every key meant for any of its controls
  // first; the key still goes on to the control.
  void setKeyPreview(bool on);

  virtual void FormCreate() {}

  // Modal results.
  static constexpr int mrNone = 0;
  static constexpr int mrOk = 1;
  static constexpr int mrCancel = 2;
  // Shows the form modal to the whole program and returns when it closes: with the result a
  // button set, or Cancel when it was closed otherwise (by code, Escape or the close button).
  int ShowModal();
  // Setting a result closes a modal form.
  void setModalResult(int result);
  int modalResult() const { return modalResult_; }

 protected:
  virtual void FormKeyDown(int /*key*/, Qt::KeyboardModifiers /*shift*/) {}
  virtual void FormKeyUp(int /*key*/, Qt::KeyboardModifiers /*shift*/) {}
  virtual void FormClose() {}
  virtual void FormActivate() {}

  bool eventFilter(QObject* watched, QEvent* event) override;
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  QMargins frame() const;

  bool keyPreview_ = false;
  int modalResult_ = mrNone;
  class QEventLoop* modalLoop_ = nullptr;
  // Outer bounds asked for before the window manager's frame was known, and the frame they
  // were applied with: applied again once the frame shows up.
  std::optional<QRect> pending_;
  QMargins appliedWith_;
};

// A rectangle in the logical pixels Qt lays windows out in, in the device pixels of the screen
// `widget` is on, and back.
Rect toDevice(const QWidget& widget, const QRect& logical);
Rect toLogical(const QWidget& widget, const Rect& device);
