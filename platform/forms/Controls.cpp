#include "platform/forms/Controls.h"

#include <QMouseEvent>

QFont pixelFont(const QString& face, int pixels, bool bold, bool italic, bool underline) {
  QFont font(face);
  font.setStyleHint(QFont::SansSerif);  // "MS Sans Serif" falls back to the system's sans face
  font.setPixelSize(pixels);
  font.setBold(bold);
  font.setItalic(italic);
  font.setUnderline(underline);
  return font;
}

QFrame* makePanel(QWidget* parent, const QColor& colour, Bevel bevel) {
  auto* panel = new QFrame(parent);
  panel->setFrameStyle(QFrame::Panel | (bevel == Bevel::Raised ? QFrame::Raised : QFrame::Sunken));
  panel->setLineWidth(1);
  QPalette palette = panel->palette();
  palette.setColor(QPalette::Window, colour);
  panel->setPalette(palette);
  panel->setAutoFillBackground(true);
  return panel;
}

void Image::mousePressEvent(QMouseEvent* event) {
  if (onMouseDown) onMouseDown(event->button());
  QLabel::mousePressEvent(event);  // a right click still reaches the context menu
}

void Image::press() {
  if (onMouseDown) onMouseDown(Qt::LeftButton);
}

QString TrackBar::valueText() const {
  return onValueText ? onValueText(value()) : QString::number(value());
}

void Label::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && onClick)
    onClick();
  QLabel::mouseReleaseEvent(event);
}
