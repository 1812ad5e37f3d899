#include <gtest/gtest.h>

#include "app/Magnify.h"
#include "tests/E2E.h"

namespace {

constexpr Rect Screen{0, 0, 1024, 768};

// Xvfb draws the pointer in software, as most VNC, remote-desktop and virtual-machine servers
// do: it saves what lies under the pointer and puts it back when the pointer moves on. Whatever
// the view draws there must reach that bookkeeping, or old pixels come back. Both drawing
// paths: RENDER, and the client-side path of a server without it.
class BlankViewOnX : public Magnifier, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    Options options;
    if (!GetParam())
      options.serverOptions = {QStringLiteral("-extension"), QStringLiteral("RENDER")};
    start(options);
  }
  bool render() const { return GetParam(); }

  // A spot well off the window, whose source stays off it too.
  void showPicture() {
    x->movePointer(300, 300);
    const QRect v = viewOnScreen();
    ASSERT_TRUE(viewShows(sourceRect({300, 300}, v.width(), v.height(), 3, Screen)));
  }
};

TEST_P(BlankViewOnX, PointerOverTheWindowLeavesNoOldPixelsBehind) {
  ASSERT_NO_FATAL_FAILURE(showPicture());
  const QRect view = viewOnScreen();
  const QPoint panel(view.center().x(), view.bottom() + 40);  // between the zoom buttons

  QRgb face = 0;
  x->movePointer(view.center().x(), view.center().y());
  ASSERT_TRUE(viewIsBlank(&face)) << "pointer moved onto the view";
  x->movePointer(view.left() + 30, view.top() + 20);
  EXPECT_TRUE(viewIsBlank()) << "pointer moved within the view";
  x->movePointer(view.right() - 10, view.bottom() - 10);
  EXPECT_TRUE(viewIsBlank()) << "pointer moved within the view again";
  x->movePointer(panel.x(), panel.y());
  QRgb after = 0;
  EXPECT_TRUE(viewIsBlank(&after)) << "pointer moved onto the tool panel";
  EXPECT_EQ(after, face);
}

TEST_P(BlankViewOnX, FreezeReleasedOverTheWindowLeavesNoOldPixelsBehind) {
  ASSERT_NO_FATAL_FAILURE(showPicture());
  ASSERT_TRUE(freeze({296, 296}));
  const QRect view = viewOnScreen();
  x->movePointer(view.center().x(), view.center().y());
  ASSERT_TRUE(waitForTick({296, 296})) << "a tick with the pointer over the view";
  ASSERT_TRUE(viewShows(sourceRect({300, 300}, view.width(), view.height(), 3, Screen)))
      << "the frozen spot, drawn under the pointer";
  x->movePointer(view.center().x() + 25, view.center().y() + 15);
  ASSERT_TRUE(viewShows(sourceRect({300, 300}, view.width(), view.height(), 3, Screen)))
      << "the frozen spot, with the pointer moved over it";

  x->pressKeys({keysym::Control_L, keysym::Insert});
  EXPECT_TRUE(viewIsBlank()) << "freeze released with the pointer over the view";
  x->movePointer(view.left() + 40, view.top() + 40);
  EXPECT_TRUE(viewIsBlank()) << "and the pointer moved on";
}

INSTANTIATE_TEST_SUITE_P(, BlankViewOnX, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "render" : "clientSide"; });

}  // namespace
