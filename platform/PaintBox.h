#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>
#include <memory>

// The view. By default Qt shows an image that the tick draws into, and every expose shows that
// image again, so the view never flickers and never shows what lay under it. A surface can
// take the view over and draw straight on its native window, with Qt painting none of it.
class PaintBox : public QWidget {
  Q_OBJECT

 public:
  // Draws on the view's native window.
  class Surface {
   public:
    virtual ~Surface() = default;
    // Fills the view, `size` device pixels large.
    virtual void fill(const QColor& colour, QSize size) = 0;
    // After an expose: the last picture drawn, again.
    virtual void redraw() = 0;
  };

  explicit PaintBox(QWidget* parent);
  ~PaintBox() override;

  // The view's size in device pixels: what the enlargement fills, whatever the desktop's scale.
  QSize deviceSize() const;
  // The image Qt shows, always of the view's device size (reallocated only on a resize).
  QImage& frame();
  // Fills the whole view, through the surface when there is one.
  void fill(const QColor& colour);
  // Schedules the image to be shown.
  void present();

  // Hands the view over to `surface`, which it then owns.
  void setSurface(std::unique_ptr<Surface> surface);
  Surface* surface() const { return surface_.get(); }

 protected:
  QPaintEngine* paintEngine() const override;
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage frame_;
  std::unique_ptr<Surface> surface_;
};
