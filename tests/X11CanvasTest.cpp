#include <gtest/gtest.h>

#include <xcb/xcb.h>
#include <QApplication>
#include <QWindow>
#include <chrono>
#include <thread>

#include "app/Magnify.h"
#include "platform/forms/PaintBox.h"
#include "platform/pixels/ScreenSource.h"
#include "platform/pixels/ViewSurface.h"
#include "platform/x11/X11Display.h"
#include "tests/Enlargement.h"
#include "tests/OnX.h"

namespace {

constexpr Rect Screen{0, 0, OnX::ScreenWidth, OnX::ScreenHeight};

// A view window in the bottom-right corner, away from the sources the tests read.
class ViewWindow {
 public:
  explicit ViewWindow(QSize size) : box(nullptr) {
    box.setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
    box.setGeometry(
        QRect(QPoint(OnX::ScreenWidth - size.width(), OnX::ScreenHeight - size.height()), size));
    box.show();
    // Qt paints a new window blank through its own connection. The server must have done that
    // before a test draws, or the blank may land on top of what the test drew.
    EXPECT_TRUE(waitUntil([&] {
      QApplication::processEvents();
      return box.windowHandle()->isExposed();
    }));
    box.repaint();
    xcb_connection_t* qt =
        qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
    std::free(xcb_get_input_focus_reply(qt, xcb_get_input_focus(qt), nullptr));
  }
  QImage grab(X11Display& display) {
    sync(display);
    OnX::x->sync();
    return OnX::x->grab(box.geometry());
  }
  PaintBox box;
};

class Surface : public ::testing::TestWithParam<Drawing> {
 protected:
  Surface()
      : display(openX11Display()),
        screen(createX11Source(display)),
        surface(createX11Surface(display, GetParam())) {}

  // The same steps as a tick: the source around `p`, clamped, enlarged.
  QImage tick(ViewWindow& view, QPoint p, int zoom, Rect* source) {
    const QSize s = view.box.size();
    *source = sourceRect(p, s.width(), s.height(), zoom, Screen);
    SurfaceBinding bound(*surface);
    surface->enlarge(*screen, *source, view.box, {0, 0, s.width(), s.height()});
    return view.grab(*display);
  }

  Match expected(QSize view, const Rect& source) const {
    if (GetParam() == Drawing::ClientSide) return Match::Exact;
    const bool whole = view.width() % std::max(source.width(), 1) == 0 &&
                       view.height() % std::max(source.height(), 1) == 0;
    return whole ? Match::Exact : Match::Nearest;
  }

  std::shared_ptr<X11Display> display;
  std::unique_ptr<ScreenSource> screen;
  std::unique_ptr<ViewSurface> surface;
};

TEST_P(Surface, EveryZoomShowsTheSourceTheTickComputed) {
  const QSize sizes[] = {{270, 186}, {271, 187}, {278, 213}, {97, 33}, {5, 40}, {1, 1}};
  const QPoint points[] = {{200, 150}, {0, 0}, {3, 400}, {399, 2}};
  for (QSize size : sizes) {
    ViewWindow view(size);
    for (int zoom = 1; zoom <= 10; ++zoom)
      for (QPoint p : points) {
        Rect source;
        const QImage shown = tick(view, p, zoom, &source);
        const QString difference =
            checkEnlargement(shown, source, OnX::ScreenWidth, expected(size, source));
        ASSERT_TRUE(difference.isEmpty())
            << size.width() << "x" << size.height() << " zoom " << zoom << " at " << p.x() << ","
            << p.y() << ": " << difference.toStdString();
      }
  }
}

TEST_P(Surface, EachModeShowsTheSourceInItsColoursAndItsPictureIsWhatIsShown) {
  const QImage desktop = uniquePixelPicture(OnX::ScreenWidth, OnX::ScreenHeight);
  ViewWindow view({270, 186});
  const QPoint p(300, 200);  // the source crosses x = 256, where the greys jump
  for (Colours colours : {Colours::Normal, Colours::Inverted, Colours::Grey, Colours::InvertedGrey})
    for (bool smooth : {false, true}) {
      const Rect source = sourceRect(p, 270, 186, 3, Screen);
      {
        SurfaceBinding bound(*surface);
        surface->enlarge(*screen, source, view.box, {0, 0, 270, 186}, {colours, smooth});
      }
      const QImage shown = view.grab(*display);
      QString difference;
      if (smooth) {
        QImage filtered = desktop;
        for (int y = 0; y < filtered.height(); ++y)
          for (int x = 0; x < filtered.width(); ++x)
            filtered.setPixel(x, y, ::filtered(desktop.pixel(x, y), colours));
        difference = checkSmooth(shown, filtered, source);
      } else {
        difference = checkColours(shown, desktop, source, colours);
      }
      const auto mode = QStringLiteral("colours %1%2")
                            .arg(static_cast<int>(colours))
                            .arg(smooth ? QStringLiteral(", smooth") : QString());
      EXPECT_TRUE(difference.isEmpty()) << mode.toStdString() << ": " << difference.toStdString();
      EXPECT_EQ(view.box.picture(), shown) << mode.toStdString();
    }
}

TEST_P(Surface, SourceReachingOffTheScreenShowsBlackThere) {
  ViewWindow view({300, 200});
  const Rect source{-10, -5, 290, 195};  // as wide as the view: one to one
  SurfaceBinding bound(*surface);
  surface->enlarge(*screen, source, view.box, {0, 0, 300, 200});
  const QImage shown = view.grab(*display);
  EXPECT_EQ(shown.pixel(9, 50), 0xff000000u);
  EXPECT_EQ(shown.pixel(50, 4), 0xff000000u);
  EXPECT_EQ(uniquePixelAt(shown.pixel(10, 5), OnX::ScreenWidth), QPoint(0, 0));
}

TEST_P(Surface, FillAndExposeRedrawTheLastPicture) {
  ViewWindow view({120, 80});
  Rect source;
  tick(view, {100, 100}, 2, &source);
  const QColor face(212, 208, 200);
  view.box.fill(face);
  QImage shown = view.grab(*display);
  EXPECT_EQ(shown.pixel(0, 0), face.rgb());
  EXPECT_EQ(shown.pixel(119, 79), face.rgb());

  tick(view, {100, 100}, 2, &source);
  // Cover the view with another window, then uncover it: the expose redraws the copy.
  {
    QWidget cover;
    cover.setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
    cover.setGeometry(view.box.geometry());
    cover.show();
    QApplication::processEvents();
    OnX::x->sync();
  }
  QString difference;
  const auto uncovered = std::chrono::steady_clock::now();
  do {
    QApplication::processEvents();
    difference = checkEnlargement(view.grab(*display), source, OnX::ScreenWidth,
                                  expected({120, 80}, source));
  } while (!difference.isEmpty() &&
           std::chrono::steady_clock::now() - uncovered < std::chrono::seconds(30));
  EXPECT_TRUE(difference.isEmpty()) << difference.toStdString();
}

TEST_P(Surface, ARepeatedFillSendsNothing) {
  ViewWindow view({60, 40});
  Rect source;
  tick(view, {100, 100}, 2, &source);  // the surface takes the view over
  const QColor face(212, 208, 200), other(10, 20, 30);
  view.box.fill(face);
  view.grab(*display);
  OnX::x->paint(static_cast<std::uint32_t>(view.box.winId()), {0, 0, 5, 5}, 0xff0000u);

  view.box.fill(face);  // the view shows it already: the marks another program left stay
  QImage shown = view.grab(*display);
  EXPECT_EQ(shown.pixel(2, 2), 0xffff0000u);
  EXPECT_EQ(shown.pixel(59, 39), face.rgb());

  view.box.fill(other);
  shown = view.grab(*display);
  EXPECT_EQ(shown.pixel(2, 2), other.rgb());
  view.box.fill(face);
  EXPECT_EQ(view.grab(*display).pixel(2, 2), face.rgb());
}

TEST_P(Surface, AStillSourceIsDrawnAgainOnlyWhenSomethingIsDrawnOnIt) {
  ViewWindow view({60, 40});
  Rect source;
  tick(view, {100, 100}, 2, &source);  // (85, 90) to (115, 110), each pixel shown 2 x 2
  const auto window = static_cast<std::uint32_t>(view.box.winId());
  auto marked = [](const QImage& shown) { return shown.pixel(2, 2) == 0xffff0000u; };
  // Where the server tells of drawing on the screen, nothing is sent again for the same
  // picture: the mark another program leaves on the view shows that. Elsewhere every tick
  // draws, as it always has.
  const bool reports = screen->reportsChanges();

  OnX::x->paint(window, {0, 0, 5, 5}, 0xff0000u);
  EXPECT_EQ(marked(tick(view, {100, 100}, 2, &source)), reports) << "nothing drawn on the source";
  OnX::x->paint(OnX::x->root(), {300, 300, 10, 10}, 0x00ff00u);
  EXPECT_EQ(marked(tick(view, {100, 100}, 2, &source)), reports) << "drawing off the source";

  OnX::x->paint(OnX::x->root(), {100, 100, 4, 4}, 0x0000ffu);
  const QImage shown = tick(view, {100, 100}, 2, &source);
  EXPECT_FALSE(marked(shown)) << "drawing on the source";
  EXPECT_EQ(shown.pixel(31, 21), 0xff0000ffu);
  EXPECT_TRUE(
      checkEnlargement(shown.copy(0, 0, 30, 20), {85, 90, 100, 100}, OnX::ScreenWidth, Match::Exact)
          .isEmpty());
  OnX::x->setRootPicture(uniquePixelPicture(OnX::ScreenWidth, OnX::ScreenHeight));
}

// Pixels held in memory, as a screen cast's frames are: the unique-pixel picture, and whether
// the area last read is as it was, as the test says.
class HeldPixels : public ScreenSource {
 public:
  std::vector<Rect> monitorList{Screen};
  QPoint pointer() override { return {}; }
  const std::vector<Rect>& monitors() override { return monitorList; }
  QImage picture = uniquePixelPicture(OnX::ScreenWidth, OnX::ScreenHeight);
  bool still = false;
  int captures = 0;
  Rect desktopBounds() override { return Screen; }
  CapturedPixels capture(const Rect& area) override {
    ++captures;
    const auto* bits = reinterpret_cast<const std::uint32_t*>(picture.constBits());
    const int stride = picture.bytesPerLine() / 4;
    return {bits + area.top * stride + area.left, stride, area};
  }
  bool unchanged(const Rect&) override { return still; }
};

TEST(SurfaceOverHeldPixels, PixelsAsTheyWereAreNotSentAgainUnlessTheViewWasFilled) {
  ViewWindow view({60, 40});
  auto display = openX11Display();
  HeldPixels held;
  auto surface = createX11Surface(display, Drawing::ClientSide);
  const auto window = static_cast<std::uint32_t>(view.box.winId());
  auto tick = [&] {
    SurfaceBinding bound(*surface);
    surface->enlarge(held, {85, 90, 115, 110}, view.box, {0, 0, 60, 40});
    return view.grab(*display).pixel(2, 2) == 0xffff0000u;  // the mark left on the view
  };
  tick();
  OnX::x->paint(window, {0, 0, 5, 5}, 0xff0000u);
  held.still = true;
  const int captures = held.captures;
  EXPECT_TRUE(tick()) << "the same pixels: nothing sent, nothing read again";
  EXPECT_EQ(held.captures, captures);
  held.still = false;
  EXPECT_FALSE(tick()) << "new pixels are drawn";

  held.still = true;
  view.box.fill(Qt::gray);  // as over its own window
  view.grab(*display);      // the fill done before the mark
  OnX::x->paint(window, {0, 0, 5, 5}, 0xff0000u);
  EXPECT_FALSE(tick()) << "the view was filled since: the pixels are drawn again";
}

INSTANTIATE_TEST_SUITE_P(, Surface, ::testing::Values(Drawing::Fastest, Drawing::ClientSide),
                         [](const auto& info) {
                           return info.param == Drawing::Fastest ? "render" : "clientSide";
                         });

TEST(X11Source, PointerFollowsDeviceMotionAtOnceAndAWarpWithinTheSafetyInterval) {
  auto screen = createX11Source(openX11Display());
  OnX::x->movePointer(10, 10);
  EXPECT_EQ(screen->pointer(), QPoint(10, 10));
  OnX::x->movePointer(20, 30);
  EXPECT_EQ(screen->pointer(), QPoint(20, 30)) << "device motion";

  // A program moving the pointer moves no device: the first look at the pointer a safety
  // interval (200 ms) after the last one finds it, however slow the machine.
  OnX::x->warpPointer(40, 50);
  screen->pointer();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(screen->pointer(), QPoint(40, 50));
}

// The screen around the last capture is read with the pointer, in the same round trip: what
// the next capture takes from it is the screen as it is then, wherever the pointer went.
TEST(X11Source, EachCaptureAfterThePointerMovedIsTheScreenAsItIsThen) {
  const QImage desktop = uniquePixelPicture(OnX::ScreenWidth, OnX::ScreenHeight);
  auto screen = createX11Source(openX11Display());
  struct Step {
    QPoint pointer;
    const char* what;
  };
  const Step steps[] = {
      {{300, 200}, "the first capture"}, {{302, 201}, "a small move"},
      {{330, 230}, "as far as is read"}, {{700, 500}, "a jump"},
      {{799, 599}, "into the corner"},   {{795, 590}, "back from it"},
      {{795, 590}, "the pointer still"},
  };
  for (const Step& step : steps) {
    OnX::x->movePointer(step.pointer.x(), step.pointer.y());
    const QPoint at = screen->pointer();
    const Rect area = Rect{at.x() - 45, at.y() - 31, at.x() + 45, at.y() + 31}.intersected(Screen);
    const CapturedPixels pixels = screen->capture(area);
    int wrong = 0;
    for (int y = 0; y < area.height(); ++y)
      for (int x = 0; x < area.width(); ++x)
        wrong += (pixels.bits[y * pixels.stride + x] & 0xffffffu) !=
                 (desktop.pixel(area.left + x, area.top + y) & 0xffffffu);
    EXPECT_EQ(wrong, 0) << step.what;
  }
  // A tick reads ahead but captures nothing, and the screen changes before the next: that one
  // shows it changed.
  OnX::x->movePointer(400, 300);
  const QPoint at = screen->pointer();
  screen->capture({at.x() - 5, at.y() - 5, at.x() + 5, at.y() + 5});
  OnX::x->movePointer(401, 300);
  screen->pointer();
  QImage square(40, 40, QImage::Format_RGB32);
  square.fill(qRgb(1, 2, 3));
  const std::uint32_t cover = OnX::x->showPicture(square, QPoint(at.x() - 20, at.y() - 20));
  OnX::x->sync();
  screen->pointer();
  const CapturedPixels pixels = screen->capture({at.x() - 5, at.y() - 5, at.x() + 5, at.y() + 5});
  EXPECT_EQ(pixels.bits[0] & 0xffffffu, 0x010203u) << "what was read ahead before it changed";
  OnX::x->configure(cover, {-100, -100, 40, 40});  // out of the other tests' way
}

}  // namespace
