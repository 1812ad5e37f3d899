#pragma once

#include <QColor>
#include <QFont>
#include <QFrame>
#include <QLabel>
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
 public:
  using QLabel::QLabel;
  std::function<void(Qt::MouseButton)> onMouseDown;

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
