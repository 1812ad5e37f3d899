#include "platform/pixels/Stretch.h"

#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <random>

#include "tests/Enlargement.h"
#include "tools/XSession.h"

namespace {

constexpr QRgb Black = 0xff000000u;

// The plain enlargement the fast one must equal: every destination pixel looked up on its own.
QImage reference(const QImage& desktop, const Rect& source, QSize view) {
  QImage out(view, QImage::Format_RGB32);
  const int sw = std::max(source.width(), 1), sh = std::max(source.height(), 1);
  for (int y = 0; y < view.height(); ++y)
    for (int x = 0; x < view.width(); ++x) {
      const int sx = source.left + static_cast<int>((2LL * x + 1) * sw / (2 * view.width()));
      const int sy = source.top + static_cast<int>((2LL * y + 1) * sh / (2 * view.height()));
      out.setPixel(x, y, desktop.rect().contains(sx, sy) ? desktop.pixel(sx, sy) : Black);
    }
  return out;
}

// The plain smooth enlargement: each view pixel's centre taken to the source in 256ths, the
// four captured pixels around it (the edge repeating) mixed across, then down, each rounded.
QImage smoothReference(const QImage& desktop, const Rect& source, QSize view) {
  const Rect area = Rect{source.left, source.top, source.left + std::max(source.width(), 1),
                         source.top + std::max(source.height(), 1)}
                        .intersected({0, 0, desktop.width(), desktop.height()});
  QImage out(view, QImage::Format_RGB32);
  out.fill(Black);
  if (area.isEmpty()) return out;
  auto tap = [](int d, int viewLength, int sourceLength, int offset) {
    const long long at =
        (2LL * d + 1) * std::max(sourceLength, 1) * 256 / (2LL * viewLength) - 128 + offset * 256LL;
    return std::pair{static_cast<int>(at >> 8), static_cast<int>(at & 255)};
  };
  auto mix = [](QRgb a, QRgb b, int w) {
    auto channel = [&](int shift) {
      return ((((a >> shift) & 255) * (256 - w) + ((b >> shift) & 255) * w + 128) >> 8) << shift;
    };
    return Black | channel(16) | channel(8) | channel(0);
  };
  for (int y = 0; y < view.height(); ++y)
    for (int x = 0; x < view.width(); ++x) {
      const auto [fx, wx] = tap(x, view.width(), source.width(), source.left - area.left);
      const auto [fy, wy] = tap(y, view.height(), source.height(), source.top - area.top);
      auto at = [&](int i, int j) {
        return desktop.pixel(area.left + std::clamp(i, 0, area.width() - 1),
                             area.top + std::clamp(j, 0, area.height() - 1));
      };
      out.setPixel(x, y,
                   mix(mix(at(fx, fy), at(fx + 1, fy), wx),
                       mix(at(fx, fy + 1), at(fx + 1, fy + 1), wx), wy));
    }
  return out;
}

enum class How { Crisp, Smooth, SmoothGreys };

QImage stretched(Stretcher& s, const QImage& desktop, const Rect& source, QSize view,
                 How how = How::Crisp) {
  const Rect screen{0, 0, desktop.width(), desktop.height()};
  const Rect wanted{source.left, source.top, source.left + std::max(source.width(), 1),
                    source.top + std::max(source.height(), 1)};
  const Rect area = wanted.intersected(screen);
  const int stride = desktop.bytesPerLine() / 4;
  CapturedPixels pixels{nullptr, 0, area};
  if (!area.isEmpty())
    pixels.bits =
        reinterpret_cast<const std::uint32_t*>(desktop.constBits()) + area.top * stride + area.left;
  pixels.stride = stride;
  QImage out(view, QImage::Format_RGB32);
  out.fill(Qt::magenta);
  const Rect dest{0, 0, view.width(), view.height()};
  if (how == How::Smooth)
    s.smooth(pixels, source, out, dest);
  else if (how == How::SmoothGreys)
    s.smoothGreys(pixels, source, out, dest);
  else
    s.copy(pixels, source, out, dest);
  return out;
}

TEST(Stretcher, EqualsThePlainEnlargement) {
  const QImage desktop = uniquePixelPicture(320, 200);
  Stretcher s;  // one object throughout: its cached maps must follow every size change
  struct Case {
    Rect source;
    QSize view;
  };
  const Case cases[] = {
      {{100, 50, 190, 112}, {270, 186}},     // zoom 3
      {{100, 50, 166, 96}, {270, 186}},      // 270/66: not an integer scale
      {{0, 0, 320, 200}, {320, 200}},        // one to one
      {{10, 10, 37, 28}, {271, 187}},        // zoom 10, odd view
      {{50, 60, 50, 80}, {5, 40}},           // no width
      {{50, 60, 70, 60}, {40, 5}},           // no height
      {{-40, -20, 100, 90}, {140, 110}},     // reaching off the top-left: black there
      {{250, 150, 400, 260}, {150, 110}},    // reaching off the bottom-right
      {{-500, -500, -400, -400}, {30, 30}},  // wholly off the screen
  };
  for (const auto& c : cases) {
    EXPECT_EQ(stretched(s, desktop, c.source, c.view), reference(desktop, c.source, c.view))
        << c.source.left << "," << c.source.top << " " << c.source.width() << "x"
        << c.source.height() << " -> " << c.view.width() << "x" << c.view.height();
  }
}

TEST(Stretcher, RandomRectanglesEqualThePlainEnlargement) {
  const QImage desktop = uniquePixelPicture(200, 150);
  Stretcher s;
  std::mt19937 random(7);
  std::uniform_int_distribution<int> coordinate(-30, 230), size(0, 120), view(1, 300);
  for (int i = 0; i < 300; ++i) {
    const int left = coordinate(random), top = coordinate(random);
    const Rect source{left, top, left + size(random), top + size(random)};
    const QSize v(view(random), view(random));
    ASSERT_EQ(stretched(s, desktop, source, v), reference(desktop, source, v)) << "case " << i;
  }
}

TEST(Stretcher, SmoothViewPixelsLieBetweenTheSourcePixelsAroundThem) {
  const QImage desktop = uniquePixelPicture(320, 200);
  Stretcher s;
  const std::pair<Rect, QSize> cases[] = {{{100, 50, 190, 112}, {270, 186}},
                                          {{100, 50, 166, 96}, {270, 186}},
                                          {{0, 0, 32, 20}, {320, 200}},
                                          {{280, 170, 320, 200}, {123, 77}}};
  for (const auto& [source, view] : cases)
    EXPECT_EQ(checkSmooth(stretched(s, desktop, source, view, How::Smooth), desktop, source),
              QString())
        << source.left << "," << source.top << " -> " << view.width() << "x" << view.height();
}

TEST(Stretcher, SmoothEqualsThePlainBilinearInColourAndInGreys) {
  const QImage desktop = uniquePixelPicture(320, 200);
  QImage greys = desktop;
  for (int y = 0; y < greys.height(); ++y)
    for (int x = 0; x < greys.width(); ++x)
      greys.setPixel(x, y, filtered(greys.pixel(x, y), Colours::Grey));
  Stretcher s;  // one object throughout, each geometry in greys and then in colour
  const std::pair<Rect, QSize> cases[] = {
      {{100, 50, 190, 112}, {270, 186}},     // zoom 3
      {{100, 50, 166, 96}, {270, 186}},      // not an integer scale
      {{100, 50, 166, 96}, {271, 186}},      // the same columns, one more
      {{10, 10, 37, 28}, {271, 187}},        // zoom 10, odd view
      {{50, 60, 50, 80}, {5, 40}},           // no width
      {{-40, -20, 100, 90}, {140, 110}},     // reaching off the top-left: the edge repeats
      {{250, 150, 400, 260}, {150, 110}},    // reaching off the bottom-right
      {{-500, -500, -400, -400}, {30, 30}},  // wholly off the screen: black
  };
  for (const auto& [source, view] : cases) {
    EXPECT_EQ(stretched(s, greys, source, view, How::SmoothGreys),
              smoothReference(greys, source, view))
        << "greys " << source.left << "," << source.top << " -> " << view.width();
    EXPECT_EQ(stretched(s, desktop, source, view, How::Smooth),
              smoothReference(desktop, source, view))
        << source.left << "," << source.top << " -> " << view.width() << "x" << view.height();
  }
}

TEST(Stretcher, NearestSourceCoversEveryPixelOnce) {
  // Zoom 3 over 90 pixels: each source pixel three times, in order.
  for (int d = 0; d < 270; ++d) EXPECT_EQ(nearestSource(d, 270, 90), d / 3);
  EXPECT_EQ(nearestSource(0, 270, 66), 0);
  EXPECT_EQ(nearestSource(269, 270, 66), 65) << "the last view pixel shows the last source pixel";
  EXPECT_EQ(nearestSource(4, 278, 92), 1) << "centre of view pixel 4 lies over source pixel 1";
}

}  // namespace

namespace {

TEST(ViewColours, EachModesFunctionOfAPixelAndItsRounding) {
  struct Case {
    std::uint32_t pixel;
    Colours colours;
    std::uint32_t shown;
  };
  const Case cases[] = {
      {0x00123456, Colours::Normal, 0xff123456},
      {0x00123456, Colours::Inverted, 0xffedcba9},
      {0xab000000, Colours::Inverted, 0xffffffff},  // the unused byte neither read nor kept
      {0x00ffffff, Colours::Grey, 0xffffffff},
      {0x00ff0000, Colours::Grey, 0xff363636},  // 54.213
      {0x0000ff00, Colours::Grey, 0xffb6b6b6},  // 182.376
      {0x000000ff, Colours::Grey, 0xff121212},  // 18.411
      {0x0000ff00, Colours::InvertedGrey, 0xff494949},
      {0x00020000, Colours::Grey, 0xff000000},  // 0.4252: down
      {0x00a00014, Colours::Grey, 0xff232323},  // 34.0160 + 1.444 = 35.46: down
      {0x00010101, Colours::Grey, 0xff010101},  // exactly 1
      {0x00000007, Colours::Grey, 0xff010101},  // 0.5054: up
      {0x00020014, Colours::Grey, 0xff020202},  // 0.4252 + 1.444 = 1.8692: up
      {0x00000e4c, Colours::Grey, 0xff101010},  // 15.5 exactly: a half goes up
      {0x0000292c, Colours::Grey, 0xff212121},  // 32.5 exactly: a half goes up
      {0x00000007, Colours::InvertedGrey, 0xfffefefe},
  };
  for (const Case& c : cases)
    EXPECT_EQ(filtered(c.pixel, c.colours), c.shown)
        << std::hex << c.pixel << " in mode " << static_cast<int>(c.colours);
  EXPECT_EQ(inversionOf(Colours::Normal), Colours::Inverted);
  EXPECT_EQ(inversionOf(Colours::Inverted), Colours::Normal);
  EXPECT_EQ(inversionOf(Colours::Grey), Colours::InvertedGrey);
  EXPECT_EQ(inversionOf(Colours::InvertedGrey), Colours::Grey);
}

}  // namespace
