#include "platform/PaintBox.h"

#include <QPaintEvent>
#include <QPainter>

PaintBox::PaintBox(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);  // every pixel is drawn: no erase, no flicker
  setAttribute(Qt::WA_NoSystemBackground);
}

PaintBox::~PaintBox() = default;

QImage& PaintBox::frame() {
  if (frame_.size() != size()) {
    frame_ = QImage(size(), QImage::Format_RGB32);
    frame_.fill(palette().color(QPalette::Button));
  }
  return frame_;
}

void PaintBox::fill(const QColor& colour) {
  if (surface_) {
    surface_->fill(colour, size());
    return;
  }
  frame().fill(colour);
  present();
}

void PaintBox::present() {
  update();
}

void PaintBox::setSurface(std::unique_ptr<Surface> surface) {
  surface_ = std::move(surface);
  setAttribute(Qt::WA_PaintOnScreen, surface_ != nullptr);  // Qt keeps out of the window
}

QPaintEngine* PaintBox::paintEngine() const {
  return surface_ ? nullptr : QWidget::paintEngine();
}

void PaintBox::paintEvent(QPaintEvent* event) {
  if (surface_) {
    surface_->redraw();
    return;
  }
  QPainter painter(this);
  const QImage& image = frame();
  for (const QRect& r : event->region()) painter.drawImage(r.topLeft(), image, r);
}
