#include "app/Follow.h"

#include <gtest/gtest.h>

namespace {

constexpr QSize Half{45, 31};  // a 270 x 186 view at zoom 3
const Sighting Caret{Sighting::Caret, {100, 200, 108, 217}, false};
const Sighting Field{Sighting::Focus, {700, 600, 760, 634}, false};
constexpr QPoint CaretAt{104, 208}, FieldAt{730, 617};

// One step: a tick with the pointer at `p` ('t'), a sighting ('s'), or its kind turned off ('d').
struct Step {
  char what;
  QPoint p{};
  Sighting s{};
};

TEST(Lead, TheNewestToMoveLeads) {
  const struct {
    const char* what;
    std::vector<Step> steps;
    QPoint expected;  // at the last tick
  } cases[] = {
      {"a sighting before the first tick", {{'s', {}, Field}, {'t', {1, 1}}}, FieldAt},
      {"the pointer moving after it", {{'s', {}, Caret}, {'t', {1, 1}}, {'t', {2, 1}}}, {2, 1}},
      {"where it stands at the first tick after is no move",
       {{'t', {1, 1}}, {'s', {}, Caret}, {'t', {4, 4}}},
       CaretAt},
      {"a newer sighting", {{'s', {}, Field}, {'s', {}, Caret}, {'t', {1, 1}}}, CaretAt},
      {"the same sighting after the pointer led",
       {{'s', {}, Field}, {'t', {1, 1}}, {'t', {2, 1}}, {'s', {}, Field}, {'t', {2, 1}}},
       FieldAt},
      {"its kind off", {{'s', {}, Caret}, {'d', {}, Caret}, {'t', {1, 1}}}, {1, 1}},
      {"the other kind off", {{'s', {}, Caret}, {'d', {}, Field}, {'t', {1, 1}}}, CaretAt},
  };
  for (const auto& c : cases) {
    Lead lead;
    QPoint at;
    for (const Step& s : c.steps) {
      if (s.what == 't') at = leadingPoint(lead, s.p, Half);
      if (s.what == 's') takeLead(lead, s.s);
      if (s.what == 'd') dropLead(lead, s.s.kind);
    }
    EXPECT_EQ(at, c.expected) << c.what;
  }
}

TEST(SightingPoint, CentresWhatFitsAndShowsTheStartOfWhatDoesNot) {
  using S = Sighting;
  const struct {
    const char* what;
    Sighting sighting;
    QSize half;
    QPoint expected;
  } cases[] = {
      {"a character", Caret, Half, CaretAt},
      {"a field that fits", Field, Half, FieldAt},
      {"as wide as the source", {S::Focus, {0, 0, 90, 20}, false}, Half, {45, 10}},
      {"one pixel wider: top-left", {S::Focus, {0, 0, 91, 20}, false}, Half, {45, 31}},
      {"too tall: top-left", {S::Focus, {700, 600, 720, 700}, false}, Half, {745, 631}},
      {"right to left: top-right", {S::Focus, {700, 600, 868, 634}, true}, Half, {823, 631}},
  };
  for (const auto& c : cases) EXPECT_EQ(sightingPoint(c.sighting, c.half), c.expected) << c.what;
}

TEST(Believable, OnlyBoxesOnAMonitor) {
  const std::vector<Rect> monitors{{0, 0, 1024, 768}};
  EXPECT_TRUE(believable({741, 608, 741, 625}, monitors)) << "a cursor with no width";
  EXPECT_FALSE(believable({741, 608, 742, 608}, monitors)) << "no height";
  EXPECT_FALSE(believable({1024, 10, 1100, 20}, monitors)) << "right of the monitor";
}

}  // namespace
