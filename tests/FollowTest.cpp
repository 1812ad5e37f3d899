#include "app/Follow.h"

#include <gtest/gtest.h>

namespace {

constexpr QSize Half{45, 31};  // a 270 x 186 view at zoom 3
const Sighting Caret{Sighting::Caret, {100, 200, 108, 217}, false};
const Sighting Field{Sighting::Focus, {700, 600, 760, 634}, false};
constexpr QPoint CaretAt{104, 208}, FieldAt{730, 617};

// One step: a tick with the pointer at `p`, a sighting, or its kind turned off.
struct Step {
  char what;  // 't', 's' or 'd'
  QPoint p;
  Sighting s;
};
Step tick(QPoint p) {
  return {'t', p, {}};
}
Step see(const Sighting& s) {
  return {'s', {}, s};
}
Step drop(Sighting::Kind k) {
  return {'d', {}, {k, {}, false}};
}

TEST(Lead, TheNewestToMoveLeads) {
  const struct {
    const char* what;
    std::vector<Step> steps;
    QPoint expected;  // at the last tick
  } cases[] = {
      {"the pointer alone", {tick({10, 10}), tick({20, 20})}, {20, 20}},
      {"a sighting before the first tick", {see(Field), tick({10, 10})}, FieldAt},
      {"the pointer moving after it", {see(Caret), tick({10, 10}), tick({11, 10})}, {11, 10}},
      {"where it stands at the first tick after is no move",
       {tick({10, 10}), see(Caret), tick({40, 40})},
       CaretAt},
      {"a newer sighting", {see(Field), see(Caret), tick({10, 10})}, CaretAt},
      {"its kind off", {see(Caret), tick({1, 1}), drop(Sighting::Caret), tick({1, 1})}, {1, 1}},
      {"the other kind off", {see(Caret), drop(Sighting::Focus), tick({1, 1})}, CaretAt},
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

TEST(Lead, OnlyAChangeMovesTheView) {
  Lead lead;
  EXPECT_TRUE(takeLead(lead, Caret)) << "from the pointer";
  EXPECT_FALSE(takeLead(lead, Caret)) << "the same box again";
  EXPECT_TRUE(takeLead(lead, Field));
  leadingPoint(lead, {1, 1}, Half);
  leadingPoint(lead, {2, 1}, Half);
  EXPECT_TRUE(takeLead(lead, Field)) << "the same box, once the pointer has led";
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
      {"a cursor with no width", {S::Caret, {741, 608, 741, 625}, false}, Half, {741, 616}},
      {"a character wider than the source", {S::Caret, {0, 0, 200, 20}, false}, Half, {100, 10}},
      {"a field that fits", Field, Half, FieldAt},
      {"as wide as the source", {S::Focus, {0, 0, 90, 20}, false}, Half, {45, 10}},
      {"one pixel wider: top-left", {S::Focus, {0, 0, 91, 20}, false}, Half, {45, 31}},
      {"too tall: top-left", {S::Focus, {700, 600, 720, 700}, false}, Half, {745, 631}},
      {"right to left: top-right", {S::Focus, {700, 600, 868, 634}, true}, Half, {823, 631}},
      {"right to left, fitting", {S::Focus, {700, 600, 760, 634}, true}, Half, FieldAt},
      {"at zoom 1", {S::Focus, {700, 600, 868, 634}, false}, {135, 93}, {784, 617}},
  };
  for (const auto& c : cases) EXPECT_EQ(sightingPoint(c.sighting, c.half), c.expected) << c.what;
}

TEST(Believable, OnlyBoxesOnAMonitor) {
  const std::vector<Rect> monitors{{0, 0, 1024, 768}, {1024, 0, 2048, 768}};
  const struct {
    const char* what;
    Rect box;
    bool expected;
  } cases[] = {
      {"a cursor with no width", {741, 608, 741, 625}, true},
      {"on the second monitor's last column", {2047, 0, 2047, 17}, true},
      {"partly on a monitor", {-50, -10, 10, 10}, true},
      {"no height", {741, 608, 741, 608}, false},
      {"a negative width", {741, 608, 740, 625}, false},
      {"above every monitor", {10, -40, 100, -10}, false},
      {"right of every monitor", {2048, 10, 2100, 20}, false},
  };
  for (const auto& c : cases) EXPECT_EQ(believable(c.box, monitors), c.expected) << c.what;
}

}  // namespace
