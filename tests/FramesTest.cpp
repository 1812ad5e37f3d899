#include "platform/portal/Frames.h"

#include <gtest/gtest.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/raw.h>

#include <cstdint>

namespace {

TEST(Frames, EachLayoutBecomesTheSameXrgbPixel) {
  // The colour 0x123456 with an alpha or padding byte of 0x9a, as each layout lays it out.
  const struct {
    std::uint32_t spa;
    std::uint8_t bytes[4];
  } cases[] = {{SPA_VIDEO_FORMAT_BGRx, {0x56, 0x34, 0x12, 0x9a}},
               {SPA_VIDEO_FORMAT_BGRA, {0x56, 0x34, 0x12, 0x9a}},
               {SPA_VIDEO_FORMAT_RGBx, {0x12, 0x34, 0x56, 0x9a}},
               {SPA_VIDEO_FORMAT_RGBA, {0x12, 0x34, 0x56, 0x9a}}};
  for (const auto& c : cases) {
    const auto format = frameFormatOf(c.spa);
    ASSERT_TRUE(format) << c.spa;
    std::uint8_t row[8];
    std::copy(c.bytes, c.bytes + 4, row);
    std::copy(c.bytes, c.bytes + 4, row + 4);
    std::uint32_t out[2] = {};
    toXrgb(*format, row, out, 2);
    EXPECT_EQ(out[0] & 0xffffffu, 0x123456u) << c.spa;
    EXPECT_EQ(out[1] & 0xffffffu, 0x123456u) << c.spa;
  }
  EXPECT_FALSE(frameFormatOf(SPA_VIDEO_FORMAT_NV12)) << "layouts not asked for are refused";
  EXPECT_FALSE(frameFormatOf(SPA_VIDEO_FORMAT_RGB)) << "24-bit pixels too";
}

TEST(Frames, TheCursorMetadataTellsThePointerOnlyWhenItHasNews) {
  spa_meta_cursor cursor{};
  const QSize frame(1024, 768);
  cursor.id = 1;
  cursor.position = {300, 200};
  EXPECT_EQ(cursorIn(&cursor, sizeof cursor, frame), QPoint(300, 200));
  cursor.position = {1023, 767};
  EXPECT_EQ(cursorIn(&cursor, sizeof cursor, frame), QPoint(1023, 767)) << "the last pixel";
  const struct {
    const char* what;
    std::uint32_t id;
    spa_point at;
    std::size_t size;
  } none[] = {{"id 0: no news", 0, {300, 200}, sizeof cursor},
              {"off the frame to the right", 1, {1024, 10}, sizeof cursor},
              {"off the frame above", 1, {10, -1}, sizeof cursor},
              {"metadata cut short", 1, {300, 200}, sizeof cursor - 1}};
  for (const auto& c : none) {
    cursor.id = c.id;
    cursor.position = c.at;
    EXPECT_FALSE(cursorIn(&cursor, c.size, frame)) << c.what;
  }
  EXPECT_FALSE(cursorIn(nullptr, 0, frame)) << "no metadata";
}

TEST(Frames, AChunkIsReadOnlyWhereItsRowsLieInsideItsBuffer) {
  // A frame of 4 x 2 pixels: rows of 16 bytes.
  const QSize frame(4, 2);
  const struct {
    const char* what;
    std::uint32_t maxsize, offset;
    std::int32_t stride;
    std::uint32_t size;
    std::uint32_t offsetRead, strideRead;  // for those that fit
  } fit[] = {
      {"rows packed tight, the whole buffer", 32, 0, 16, 32, 0, 16},
      {"a stride of 0: rows packed tight", 32, 0, 0, 32, 0, 16},
      {"padded rows, the last one short of a stride", 100, 4, 20, 36, 4, 20},
      {"a chunk that ends where the buffer does", 64, 32, 16, 32, 32, 16},
  };
  for (const auto& c : fit) {
    const auto layout = frameLayout(c.maxsize, c.offset, c.stride, c.size, frame);
    ASSERT_TRUE(layout) << c.what;
    EXPECT_EQ(layout->offset, c.offsetRead) << c.what;
    EXPECT_EQ(layout->stride, c.strideRead) << c.what;
    EXPECT_EQ(layout->frame, frame) << c.what;
  }

  const struct {
    const char* what;
    std::uint32_t maxsize, offset;
    std::int32_t stride;
    std::uint32_t size;
    QSize frame;
  } hostile[] = {
      {"the offset past the buffer", 32, 40, 16, 32, frame},
      {"the chunk runs past the buffer", 32, 8, 16, 32, frame},
      {"offset and size wrap round 32 bits", 64, 0xfffffff0u, 16, 0x20, frame},
      {"a size larger than the buffer", 32, 0, 16, 48, frame},
      {"a negative stride", 32, 0, -16, 32, frame},
      {"the most negative stride", 32, 0, INT32_MIN, 32, frame},
      {"a stride shorter than a row", 32, 0, 12, 32, frame},
      {"the rows reach past the chunk", 64, 0, 32, 32, frame},
      {"a chunk too short for the last row", 32, 0, 16, 31, frame},
      {"stride times height wraps round 32 bits", 64, 0, 65536, 64, QSize(1, 65537)},
      {"a row of pixels wraps round 32 bits", 64, 0, 0, 64, QSize(0x40000000, 1)},
      {"the largest stride", 0xffffffffu, 0, INT32_MAX, 0xffffffffu, QSize(4, 3)},
      {"no frame size yet", 32, 0, 16, 32, QSize(0, 0)},
  };
  for (const auto& c : hostile)
    EXPECT_FALSE(frameLayout(c.maxsize, c.offset, c.stride, c.size, c.frame)) << c.what;
}

TEST(Frames, AScaledMonitorsFramesAreMappedOntoItsPlaceOnTheDesktop) {
  // A monitor at 1024,0 that the compositor shows at 800 x 600, sending 1600 x 1200 frames.
  const StreamPlace twice{{1024, 0, 1824, 600}, {1600, 1200}};
  EXPECT_EQ(twice.toDesktop({0, 0}), QPoint(1024, 0));
  EXPECT_EQ(twice.toDesktop({801, 599}), QPoint(1024 + 400, 299));
  EXPECT_EQ(twice.toDesktop({1599, 1199}), QPoint(1823, 599));
  EXPECT_EQ(twice.toFrame({1024, 0}), QPoint(1, 1)) << "under the desktop pixel's centre";
  EXPECT_EQ(twice.toFrame({1823, 599}), QPoint(1599, 1199));

  const StreamPlace same{{0, 0, 1024, 768}, {1024, 768}};
  for (QPoint p : {QPoint(0, 0), QPoint(511, 300), QPoint(1023, 767)}) {
    EXPECT_EQ(same.toFrame(p), p);
    EXPECT_EQ(same.toDesktop(p), p);
  }

  const StreamPlace oneAndAHalf{{0, 0, 1000, 600}, {1500, 900}};
  EXPECT_EQ(oneAndAHalf.toFrame({999, 599}), QPoint(1499, 899));
  EXPECT_EQ(oneAndAHalf.toDesktop(oneAndAHalf.toFrame({640, 360})), QPoint(640, 360))
      << "a pointer's place survives the round trip";
}

}  // namespace
