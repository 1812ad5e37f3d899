#pragma once

// Screen-cast frames as PipeWire hands them over, and the pointer that comes with them: the
// arithmetic, apart from PipeWire itself.

#include <QPoint>
#include <QSize>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/pixels/Rect.h"

struct spa_meta_cursor;

// The pixel layouts asked for: 32 bits a pixel, bytes in memory in the order named.
enum class FrameFormat { BGRx, BGRA, RGBx, RGBA };

// From SPA's video format number; nothing for the layouts not asked for.
std::optional<FrameFormat> frameFormatOf(std::uint32_t spaFormat);

// Copies `count` pixels of a row into 0xXXRRGGBB words, as the X server takes them.
void toXrgb(FrameFormat format, const std::uint8_t* row, std::uint32_t* out, int count);

// Where one stream's picture lies on the desktop: its rectangle there (the compositor's logical
// pixels, as the portal reports them) and the size of its frames (physical pixels, larger on a
// scaled monitor).
struct StreamPlace {
  Rect onDesktop;
  QSize frame;

  // A frame pixel's position on the desktop, and the frame pixel a desktop pixel shows.
  QPoint toDesktop(QPoint inFrame) const;
  QPoint toFrame(QPoint onDesktop) const;
};

// Where a frame's rows lie in its buffer, once checked: `offset` bytes in, `stride` bytes apart.
struct FrameLayout {
  std::uint32_t offset = 0;
  std::uint32_t stride = 0;
  QSize frame;  // the frame size it was checked against
};

// What a buffer's chunk says of its picture, checked against the buffer's memory (`maxsize`
// bytes) and a frame of `frame` 32-bit pixels: the chunk's data must lie inside the memory,
// and every row inside the chunk's data, each row at least a row of pixels long. A stride of 0
// means rows packed tight. Nothing when they do not fit: such a buffer must not be read. The
// producer writes the chunk and may lie, by mistake or on purpose.
std::optional<FrameLayout> frameLayout(std::uint32_t maxsize, std::uint32_t offset,
                                       std::int32_t stride, std::uint32_t size, QSize frame);

// The pointer a buffer's cursor metadata reports, in frame pixels: nothing when it carries no
// news (id 0) or puts the pointer off the frame (another monitor has it).
std::optional<QPoint> cursorIn(const spa_meta_cursor* meta, std::size_t metaSize, QSize frame);
