#include "app/Follow.h"

#include <gtest/gtest.h>

namespace {

constexpr QSize Half{45, 31};  // a 270 x 186 view at zoom 3
const Sighting Caret{Sighting::Caret, {100, 200, 108, 217}, false};
const Sighting Field{Sighting::Focus, {700, 600, 760, 634}, false};
constexpr QPoint CaretAt{104, 208};
constexpr QPoint FieldAt{730, 617};

struct Step {
  enum { Tick, See, Drop } what;
  QPoint pointer{};
  Sighting sighting{};
};
Step tick(QPoint p) {
  return {Step::Tick, p, {}};
}
Step see(const Sighting& s) {
  return {Step::See, {}, s};
}
Step drop(Sighting::Kind k) {
  return {Step::Drop, {}, {k, {}, false}};
}

TEST(Lead, TheNewestToMoveLeads) {
  struct Case {
    const char* what;
    std::vector<Step> steps;
    QPoint expected;  // at the last tick
  };
  const Case cases[] = {
      {"the pointer alone", {tick({10, 10}), tick({20, 20})}, {20, 20}},
      {"a sighting after the pointer", {tick({10, 10}), see(Caret), tick({10, 10})}, CaretAt},
      {"a sighting before the first tick", {see(Field), tick({10, 10})}, FieldAt},
      {"the pointer moving after it", {see(Caret), tick({10, 10}), tick({11, 10})}, {11, 10}},
      {"the pointer still after it", {see(Caret), tick({10, 10}), tick({10, 10})}, CaretAt},
      {"where the pointer stands at its first tick is no move",
       {tick({10, 10}), see(Caret), tick({40, 40})},
       CaretAt},
      {"a newer sighting", {see(Field), see(Caret), tick({10, 10})}, CaretAt},
      {"a sighting after the pointer moved back",
       {see(Caret), tick({10, 10}), tick({11, 10}), see(Field), tick({11, 10})},
       FieldAt},
      {"its kind turned off",
       {see(Caret), tick({10, 10}), drop(Sighting::Caret), tick({10, 10})},
       {10, 10}},
      {"the other kind turned off",
       {see(Caret), tick({10, 10}), drop(Sighting::Focus), tick({10, 10})},
       CaretAt},
  };
  for (const Case& c : cases) {
    Lead lead;
    QPoint at;
    for (const Step& s : c.steps) {
      if (s.what == Step::Tick) at = leadingPoint(lead, s.pointer, Half);
      if (s.what == Step::See) takeLead(lead, s.sighting);
      if (s.what == Step::Drop) dropLead(lead, s.sighting.kind);
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
  struct Case {
    const char* what;
    Sighting sighting;
    QSize half;
    QPoint expected;
  };
  const Case cases[] = {
      {"a character", Caret, Half, CaretAt},
      {"a cursor at the end of the text, no width",
       {Sighting::Caret, {741, 608, 741, 625}, false},
       Half,
       {741, 616}},
      {"a character wider than the source",
       {Sighting::Caret, {0, 0, 200, 20}, false},
       Half,
       {100, 10}},
      {"a field that fits", Field, Half, FieldAt},
      {"a field just as wide as the source",
       {Sighting::Focus, {0, 0, 90, 20}, false},
       Half,
       {45, 10}},
      {"one pixel wider: its top-left corner",
       {Sighting::Focus, {0, 0, 91, 20}, false},
       Half,
       {45, 31}},
      {"a wide field", {Sighting::Focus, {700, 600, 868, 634}, false}, Half, {745, 631}},
      {"a tall one", {Sighting::Focus, {700, 600, 720, 700}, false}, Half, {745, 631}},
      {"right to left: its top-right corner",
       {Sighting::Focus, {700, 600, 868, 634}, true},
       Half,
       {823, 631}},
      {"right to left, fitting: centred",
       {Sighting::Focus, {700, 600, 760, 634}, true},
       Half,
       FieldAt},
      {"a field at zoom 1", {Sighting::Focus, {700, 600, 868, 634}, false}, {135, 93}, {784, 617}},
  };
  for (const Case& c : cases) EXPECT_EQ(sightingPoint(c.sighting, c.half), c.expected) << c.what;
}

TEST(Believable, OnlyBoxesOnAMonitor) {
  const std::vector<Rect> monitors{{0, 0, 1024, 768}, {1024, 0, 2048, 768}};
  struct Case {
    const char* what;
    Rect box;
    bool expected;
  };
  const Case cases[] = {
      {"a field", {700, 600, 868, 634}, true},
      {"a cursor with no width", {741, 608, 741, 625}, true},
      {"a cursor on the last column", {2047, 0, 2047, 17}, true},
      {"on the second monitor", {1500, 10, 1510, 20}, true},
      {"partly on a monitor", {-50, -10, 10, 10}, true},
      {"no height", {741, 608, 741, 608}, false},
      {"a negative width", {741, 608, 740, 625}, false},
      {"above every monitor", {10, -40, 100, -10}, false},
      {"right of every monitor", {2048, 10, 2100, 20}, false},
  };
  for (const Case& c : cases) EXPECT_EQ(believable(c.box, monitors), c.expected) << c.what;
}

}  // namespace
