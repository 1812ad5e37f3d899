#include <gtest/gtest.h>

#include <QImage>
#include <vector>

#include "platform/pixels/ScreenSource.h"
#include "platform/pixels/View.h"
#include "platform/pixels/ViewSurface.h"
#include "tools/XSession.h"

namespace {

// A screen that answers as a test says, and tells what was asked of it.
class ScriptedScreen : public ScreenSource {
 public:
  bool picture = true;
  bool still = false;
  QImage pixels = uniquePixelPicture(400, 300);
  std::vector<Rect> asked;  // the areas unchanged() was asked about
  int forgotten = 0;
  int captures = 0;

  QPoint pointer() override { return {}; }
  const std::vector<Rect>& monitors() override { return monitors_; }
  Rect desktopBounds() override { return {0, 0, pixels.width(), pixels.height()}; }
  bool pictured(const Rect&) override { return picture; }
  CapturedPixels capture(const Rect& area) override {
    ++captures;
    const auto* bits = reinterpret_cast<const std::uint32_t*>(pixels.constBits());
    const int stride = pixels.bytesPerLine() / 4;
    return {bits + area.top * stride + area.left, stride, area};
  }
  bool unchanged(const Rect& area) override {
    asked.push_back(area);
    return still;
  }
  void forgetChanges() override { ++forgotten; }

 private:
  std::vector<Rect> monitors_{{0, 0, 400, 300}};
};

// A view in memory.
class ImageView : public View {
 public:
  QImage image{40, 30, QImage::Format_RGB32};
  std::vector<QColor> fills;
  int presents = 0;

  std::uintptr_t nativeWindow() override { return 0; }
  QSize deviceSize() const override { return image.size(); }
  QImage& frame() override { return image; }
  void present() override { ++presents; }
  void fill(const QColor& colour) override { fills.push_back(colour); }
  QColor blank() const override { return Qt::gray; }
  QImage picture() override { return image; }
  void setPainter(std::unique_ptr<Painter>) override {}
  Painter* painter() const override { return nullptr; }
};

// A surface whose last drawing is what the test says.
class RecordingSurface : public ViewSurface {
 public:
  bool same = false;
  int draws = 0;

 protected:
  bool shows(View&, const Rect&, const Rect&, const ViewMode&) override { return same; }
  void draw(ScreenSource&, const Rect&, const Rect&, View&, const Rect&, const ViewMode&) override {
    ++draws;
  }
};

TEST(ViewSurface, DrawsOnlyWhatTheViewDoesNotShowAlready) {
  struct Case {
    const char* what;
    bool pictured, shows, unchanged;
    bool filled, asked, forgot, drew;
  };
  const Case cases[] = {
      {"no picture: the blank colour, nothing read", false, false, false, true, false, false,
       false},
      {"no picture, even where the view showed it", false, true, true, true, false, false, false},
      {"a new source: read afresh", true, false, false, false, false, true, true},
      {"a new source, though the screen is still", true, false, true, false, false, true, true},
      {"the same source, changed", true, true, false, false, true, false, true},
      {"the same source, still: nothing", true, true, true, false, true, false, false},
  };
  for (const Case& c : cases) {
    ScriptedScreen screen;
    screen.picture = c.pictured;
    screen.still = c.unchanged;
    ImageView view;
    RecordingSurface surface;
    surface.same = c.shows;
    surface.enlarge(screen, {10, 20, 30, 35}, view, {0, 0, 40, 30});
    EXPECT_EQ(!view.fills.empty(), c.filled) << c.what;
    if (c.filled) {
      EXPECT_EQ(view.fills.front(), QColor(Qt::gray)) << c.what;
    }
    EXPECT_EQ(!screen.asked.empty(), c.asked) << c.what;
    EXPECT_EQ(screen.forgotten > 0, c.forgot) << c.what;
    EXPECT_EQ(surface.draws > 0, c.drew) << c.what;
  }
}

TEST(ViewSurface, AsksAboutThePixelsTheEnlargementReads) {
  struct Case {
    Rect source, read;
  };
  const Case cases[] = {
      {{10, 20, 30, 35}, {10, 20, 30, 35}},
      {{10, 20, 10, 35}, {10, 20, 11, 35}},          // zero wide: its first column
      {{10, 20, 30, 20}, {10, 20, 30, 21}},          // zero high: its first row
      {{-5, -8, 20, 10}, {0, 0, 20, 10}},            // off the top-left corner
      {{390, 290, 420, 310}, {390, 290, 400, 300}},  // off the bottom-right corner
  };
  for (const Case& c : cases) {
    EXPECT_EQ(readArea(c.source, {0, 0, 400, 300}), c.read);
    ScriptedScreen screen;
    ImageView view;
    RecordingSurface surface;
    surface.same = true;
    surface.enlarge(screen, c.source, view, {0, 0, 40, 30});
    ASSERT_EQ(screen.asked.size(), 1u);
    EXPECT_EQ(screen.asked.front(), c.read);
  }
  EXPECT_TRUE(readArea({500, 400, 520, 410}, {0, 0, 400, 300}).isEmpty());
}

class MemorySurface : public PixelSurface {};

TEST(PixelSurface, EnlargesTheCapturedPixelsIntoTheViewsImage) {
  ScriptedScreen screen;
  ImageView view;
  MemorySurface surface;
  surface.enlarge(screen, {100, 50, 120, 65}, view, {0, 0, 40, 30});
  EXPECT_EQ(screen.captures, 1);
  EXPECT_EQ(view.presents, 1);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x)
      ASSERT_EQ(uniquePixelAt(view.image.pixel(x, y), 400), QPoint(100 + x / 2, 50 + y / 2))
          << x << "," << y;

  // Wholly off the screen: nothing to read, and the view is black.
  surface.enlarge(screen, {500, 400, 520, 415}, view, {0, 0, 40, 30});
  EXPECT_EQ(screen.captures, 1);
  EXPECT_EQ(view.image.pixel(20, 15), 0xff000000u);
}

}  // namespace
