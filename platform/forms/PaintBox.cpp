#include "platform/forms/PaintBox.h"

#include <QPaintEvent>
#include <QPainter>

#include "platform/pixels/DeviceScale.h"

PaintBox::PaintBox(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);  // every pixel is drawn: no erase, no flicker
  setAttribute(Qt::WA_NoSystemBackground);
}

PaintBox::~PaintBox() = default;

QSize PaintBox::deviceSize() const {
  return toDevice(size(), devicePixelRatioF());
}

QImage& PaintBox::frame() {
  const QSize device = deviceSize();
  if (frame_.size() != device) {
    frame_ = QImage(device, QImage::Format_RGB32);
    frame_.fill(blank());
  }
  // Shown one image pixel to one device pixel, at any scale.
  frame_.setDevicePixelRatio(devicePixelRatioF());
  return frame_;
}

void PaintBox::fill(const QColor& colour) {
  if (painter_) {
    painter_->fill(colour, deviceSize());
    return;
  }
  frame().fill(colour);
  present();
}

void PaintBox::present() {
  update();
}

QColor PaintBox::blank() const {
  return palette().color(QPalette::Button);
}

QImage PaintBox::picture() {
  return painter_ ? painter_->picture() : frame().copy();
}

void PaintBox::setPainter(std::unique_ptr<Painter> painter) {
  painter_ = std::move(painter);
  setAttribute(Qt::WA_PaintOnScreen, painter_ != nullptr);  // Qt keeps out of the window
}

QPaintEngine* PaintBox::paintEngine() const {
  return painter_ ? nullptr : QWidget::paintEngine();
}

void PaintBox::paintEvent(QPaintEvent* event) {
  if (painter_) {
    painter_->redraw();
    return;
  }
  QPainter painter(this);
  const QImage& image = frame();
  const qreal scale = image.devicePixelRatio();
  for (const QRect& r : event->region()) {
    const QRectF device(r.x() * scale, r.y() * scale, r.width() * scale, r.height() * scale);
    painter.drawImage(QRectF(r), image, device);
  }
}
