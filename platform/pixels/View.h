#pragma once

#include <QColor>
#include <QImage>
#include <QSize>
#include <cstdint>
#include <memory>

// The part of the magnifier's window that the enlargement goes into. By default the program
// draws into an image that Qt shows; a painter can take the view over and draw straight on its
// native window.
class View {
 public:
  // Draws on the view's native window, and again after an expose.
  class Painter {
   public:
    virtual ~Painter() = default;
    // What kind of painter it is, told by the address of something of its own: a surface finds
    // its own kind again on a view.
    virtual const void* kind() const = 0;
    // Fills the view, `size` device pixels large.
    virtual void fill(const QColor& colour, QSize size) = 0;
    // After an expose: the last picture drawn, again.
    virtual void redraw() = 0;
    // The last enlargement drawn, as it was shown (colours and smoothing, device pixels), kept
    // while the view is blank; a null image before the first.
    virtual QImage picture() = 0;
  };

  virtual ~View() = default;

  // The native window (an X window id), made if it was not yet.
  virtual std::uintptr_t nativeWindow() = 0;
  // The view's size in device pixels: what the enlargement fills, whatever the desktop's scale.
  virtual QSize deviceSize() const = 0;
  // The image the program shows, always of the view's device size.
  virtual QImage& frame() = 0;
  // Schedules the image to be shown.
  virtual void present() = 0;
  // Fills the whole view, through the painter when there is one.
  virtual void fill(const QColor& colour) = 0;
  // The colour of a view with nothing to show: the button face, as over the program's own
  // window.
  virtual QColor blank() const = 0;

  // What the view shows, as the painter's picture() tells it.
  virtual QImage picture() = 0;

  // Hands the view over to `painter`, which it then owns.
  virtual void setPainter(std::unique_ptr<Painter> painter) = 0;
  virtual Painter* painter() const = 0;
};
