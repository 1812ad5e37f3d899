#pragma once

#include <QColor>
#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QSlider>
#include <functional>

// The framework's small controls, as Qt widgets.

enum class Bevel { Raised, Lowered };

// A font by face and character height in pixels: sizes stay put on every screen density.
QFont pixelFont(const QString& face, int pixels, bool bold = false, bool italic = false,
                bool underline = false);

// A panel: a frame with a one-pixel outer bevel, filled with its own colour.
QFrame* makePanel(QWidget* parent, const QColor& colour, Bevel bevel);

// A picture that reports presses of any mouse button.
class Image : public QLabel {
  Q_OBJECT

 public:
  using QLabel::QLabel;
  std::function<void(Qt::MouseButton)> onMouseDown;
  // What a left click does, for those who press it without a mouse.
  void press();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
};

// A label that reports a click (left button pressed and released over it).
class Label : public QLabel {
 public:
  using QLabel::QLabel;
  std::function<void()> onClick;

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
};

// A slider whose value reads as its owner words it ("x3"), where a plain number would not say
// what it means.
class TrackBar : public QSlider {
  Q_OBJECT

 public:
  using QSlider::QSlider;
  std::function<QString(int)> onValueText;
  QString valueText() const;
};
