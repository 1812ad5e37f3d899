#pragma once

#include <cstdint>

// The colours the view shows the screen in. The order matters: a mode and its inverse differ
// in the lowest bit only.
enum class Colours : std::uint8_t { Normal = 0, Inverted = 1, Grey = 2, InvertedGrey = 3 };

// How the view shows the screen: its colours, and crisp blocks or a smooth (bilinear)
// enlargement of the same source rectangle.
struct ViewMode {
  Colours colours = Colours::Normal;
  bool smooth = false;
  friend constexpr bool operator==(const ViewMode&, const ViewMode&) = default;
};

// Rec. 709 luma of an 8-bit colour, 0.2126 R + 0.7152 G + 0.0722 B, rounded to the nearest
// (a half up): in whole numbers, so that no two machines round it differently.
constexpr int luma(int r, int g, int b) {
  return (2126 * r + 7152 * g + 722 * b + 5000) / 10000;
}

// An XRGB pixel as `colours` shows it; the unused byte comes out set, as an opaque image wants.
constexpr std::uint32_t filtered(std::uint32_t pixel, Colours colours) {
  constexpr std::uint32_t Opaque = 0xff000000u;
  switch (colours) {
    case Colours::Normal:
      return pixel | Opaque;
    case Colours::Inverted:
      return ~pixel | Opaque;
    case Colours::Grey:
    case Colours::InvertedGrey: {
      auto y = static_cast<std::uint32_t>(luma(static_cast<int>((pixel >> 16) & 0xff),
                                               static_cast<int>((pixel >> 8) & 0xff),
                                               static_cast<int>(pixel & 0xff)));
      if (colours == Colours::InvertedGrey) y = 255 - y;
      return Opaque | (y << 16) | (y << 8) | y;
    }
  }
  return pixel | Opaque;
}

// Whether `colours` are greys: each pixel's three channels equal.
constexpr bool greys(Colours colours) {
  return colours == Colours::Grey || colours == Colours::InvertedGrey;
}

// What Ctrl+I switches to: normal and inverted colours, or the one grey and the other.
constexpr Colours inversionOf(Colours colours) {
  return static_cast<Colours>(static_cast<std::uint8_t>(colours) ^ 1u);
}
