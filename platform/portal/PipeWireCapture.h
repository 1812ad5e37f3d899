#pragma once

#include <QPoint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/pixels/CapturedPixels.h"
#include "platform/pixels/Rect.h"
#include "platform/portal/Descriptor.h"

// The frames of a screen cast: one PipeWire stream per monitor, its latest frame held, and
// the pointer each reports with its frames. PipeWire's loop runs from Qt's event loop: no
// thread of its own.
class PipeWireCapture final {
 public:
  struct Stream {
    std::uint32_t node;  // PipeWire node to connect to
    Rect onDesktop;      // where the portal says its picture lies
  };

  // A stream that is not streaming this long (its link gone, say, or never made) has stalled:
  // long enough for a stream to start, or to pass through a pause when its format changes. With
  // GNOME's session manager (WirePlumber) killed, a stream of mutter's goes "paused" and stays.
  static constexpr int StallAfterMs = 4000;

  // Connects on the `remote`. `ended` runs from the event loop, once, when the remote or any
  // stream stops (the session closed, a monitor unplugged) or stalls. `arrived` runs from the event
  // loop after buffers came (a picture, or the pointer alone); with none coming, nothing runs.
  PipeWireCapture(Descriptor remote, const std::vector<Stream>& streams,
                  std::function<void()> ended, std::function<void()> arrived = {});
  ~PipeWireCapture();
  PipeWireCapture(const PipeWireCapture&) = delete;
  PipeWireCapture& operator=(const PipeWireCapture&) = delete;

  // The pointer the streams last reported, on the desktop; nothing before the first report.
  std::optional<QPoint> pointer() const;
  // Whether every stream is streaming: only then can silence mean a still desktop.
  bool streaming() const;
  // Whether every stream that shows part of `area` holds a picture to show.
  bool pictured(const Rect& area) const;
  // How many buffers were passed over because their picture did not fit their memory.
  std::uint64_t skipped() const;
  // The streams' rectangles, in the portal's order.
  std::vector<Rect> monitors() const;

  // The whole desktop: every pixel a capture may ask for lies inside.
  Rect desktopBounds();
  // Reads `area` (inside desktopBounds(), never empty); parts no monitor shows are black. The
  // pixels stay valid until the next capture.
  CapturedPixels capture(const Rect& area);
  // Whether `area` holds the pixels its last capture read, so that a view showing them needs
  // no drawing.
  bool unchanged(const Rect& area);

 private:
  struct Impl;
  std::unique_ptr<Impl> d_;
};
