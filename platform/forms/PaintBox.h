#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>
#include <memory>

#include "platform/pixels/View.h"

// The view. By default Qt shows an image that the tick draws into, and every expose shows that
// image again, so the view never flickers and never shows what lay under it. A painter can
// take the view over and draw straight on its native window, with Qt painting none of it.
class PaintBox : public QWidget, public View {
  Q_OBJECT

 public:
  explicit PaintBox(QWidget* parent);
  ~PaintBox() override;

  std::uintptr_t nativeWindow() override { return winId(); }
  QSize deviceSize() const override;
  // Reallocated only on a resize.
  QImage& frame() override;
  void fill(const QColor& colour) override;
  void present() override;
  QColor blank() const override;
  // Without a painter: the image Qt shows.
  QImage picture() override;

  void setPainter(std::unique_ptr<Painter> painter) override;
  Painter* painter() const override { return painter_.get(); }

 protected:
  QPaintEngine* paintEngine() const override;
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage frame_;
  std::unique_ptr<Painter> painter_;
};
