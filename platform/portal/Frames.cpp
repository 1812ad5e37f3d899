#include "platform/portal/Frames.h"

#include <spa/buffer/meta.h>
#include <spa/param/video/raw.h>

#include <cstring>

std::optional<FrameFormat> frameFormatOf(std::uint32_t spaFormat) {
  switch (spaFormat) {
    case SPA_VIDEO_FORMAT_BGRx:
      return FrameFormat::BGRx;
    case SPA_VIDEO_FORMAT_BGRA:
      return FrameFormat::BGRA;
    case SPA_VIDEO_FORMAT_RGBx:
      return FrameFormat::RGBx;
    case SPA_VIDEO_FORMAT_RGBA:
      return FrameFormat::RGBA;
    default:
      return std::nullopt;
  }
}

void toXrgb(FrameFormat format, const std::uint8_t* row, std::uint32_t* out, int count) {
  if (format == FrameFormat::BGRx || format == FrameFormat::BGRA) {
    std::memcpy(out, row, static_cast<std::size_t>(count) * 4);  // the same bytes already
    return;
  }
  for (int i = 0; i < count; ++i, row += 4)
    out[i] = (std::uint32_t{row[0]} << 16) | (std::uint32_t{row[1]} << 8) | row[2];
}

QPoint StreamPlace::toDesktop(QPoint inFrame) const {
  const auto scale = [](int v, int to, int from) {
    return from > 0 ? static_cast<int>(static_cast<std::int64_t>(v) * to / from) : v;
  };
  return {onDesktop.left + scale(inFrame.x(), onDesktop.width(), frame.width()),
          onDesktop.top + scale(inFrame.y(), onDesktop.height(), frame.height())};
}

QPoint StreamPlace::toFrame(QPoint p) const {
  // The frame pixel under the desktop pixel's centre, as the enlargement samples.
  const auto scale = [](int v, int to, int from) {
    return from > 0 ? static_cast<int>((2LL * v + 1) * to / (2LL * from)) : v;
  };
  return {scale(p.x() - onDesktop.left, frame.width(), onDesktop.width()),
          scale(p.y() - onDesktop.top, frame.height(), onDesktop.height())};
}

std::optional<FrameLayout> frameLayout(std::uint32_t maxsize, std::uint32_t offset,
                                       std::int32_t stride, std::uint32_t size, QSize frame) {
  // In 64 bits: no sum or product of 32-bit values below can wrap round.
  const std::int64_t width = frame.width(), height = frame.height();
  if (width <= 0 || height <= 0 || stride < 0) return std::nullopt;
  const std::int64_t row = width * 4;
  const std::int64_t step = stride == 0 ? row : stride;
  if (step < row) return std::nullopt;
  if (std::int64_t{offset} + size > maxsize) return std::nullopt;
  if ((height - 1) * step + row > size) return std::nullopt;
  return FrameLayout{offset, static_cast<std::uint32_t>(step), frame};
}

std::optional<QPoint> cursorIn(const spa_meta_cursor* meta, std::size_t metaSize, QSize frame) {
  if (!meta || metaSize < sizeof(spa_meta_cursor) || meta->id == 0) return std::nullopt;
  const QPoint p(meta->position.x, meta->position.y);
  if (p.x() < 0 || p.y() < 0 || p.x() >= frame.width() || p.y() >= frame.height())
    return std::nullopt;
  return p;
}
