#include <gtest/gtest.h>

#include <chrono>

#include "tests/E2E.h"

namespace {

class GuardOnX : public Magnifier, public ::testing::WithParamInterface<bool> {
 protected:
  bool withWindowManager() const { return GetParam(); }

  std::vector<WindowInfo> magnifierWindows() {
    std::vector<WindowInfo> shown;
    for (const WindowInfo& w : x->topLevels())
      if (w.viewable && w.title.startsWith(QStringLiteral("Вендрел (x"))) shown.push_back(w);
    return shown;
  }

  // Of the windows a user sees, the window manager's own 1x1 ones aside, the one on top.
  WindowInfo topmost() {
    WindowInfo top;
    for (const WindowInfo& w : x->topLevels())
      if (w.viewable && w.outer.width() > 1) top = w;
    return top;
  }
};

TEST_P(GuardOnX, SecondCopyBringsTheFirstForwardAndEnds) {
  start({.windowManager = withWindowManager()});
  if (withWindowManager()) {
    // Asked again until it takes: the window manager may still be setting the window up.
    ASSERT_TRUE(waitUntil([&] {
      x->minimize(window.id);
      return waitUntil([&] { return magnifierWindows().empty(); }, 100);
    })) << "not minimised";
  }
  const auto started = std::chrono::steady_clock::now();
  auto second = launch();
  const auto status = second->wait();
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - started);
  ASSERT_TRUE(status) << "the second copy did not end";
  EXPECT_EQ(*status, 0);
  RecordProperty("second_copy_ms", static_cast<int>(took.count()));

  EXPECT_TRUE(program->running());
  ASSERT_TRUE(waitUntil([&] { return magnifierWindows().size() == 1; }))
      << "the first copy's window is not shown again";
  // Brought forward, then raised: the window manager may take a moment for the second.
  waitUntil([&] { return topmost().id == window.id; });
  sleepMs(300);  // and no second window turns up late
  const auto shown = magnifierWindows();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].id, window.id);
  const WindowInfo top = topmost();
  EXPECT_EQ(top.id, window.id) << "on top: '" << top.title.toStdString() << "' is";
}

TEST_P(GuardOnX, OfCopiesStartedAtOnceExactlyOneStays) {
  start({.windowManager = withWindowManager()});
  program->stop();
  ASSERT_TRUE(waitUntil([&] { return magnifierWindows().empty(); }));
  // Copies walk one at a time (the server is held while one walks), and a walk that meets the
  // window of a copy just ending passes over it: the first copy to walk stays, all the others
  // see it and end.
  for (int copies : {4, 8})
    for (int trial = 0; trial < 20; ++trial) {
      std::vector<std::unique_ptr<ChildProcess>> started;
      for (int i = 0; i < copies; ++i) started.push_back(launch());
      int running = 0;
      waitUntil([&] {
        running = 0;
        for (auto& c : started) running += c->running();
        return running <= 1;
      });
      sleepMs(100);  // and none of those left goes on to end
      running = 0;
      for (auto& c : started) running += c->running();
      ASSERT_EQ(running, 1) << copies << " copies, trial " << trial;
      ASSERT_TRUE(waitUntil([&] { return magnifierWindows().size() == 1; }));
      for (auto& c : started)
        if (auto status = c->wait(0)) {
          EXPECT_EQ(*status, 0);
        }
      started.clear();  // the one left is stopped
      ASSERT_TRUE(waitUntil([&] { return magnifierWindows().empty(); }));
    }
}

INSTANTIATE_TEST_SUITE_P(, GuardOnX, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "openbox" : "noWM"; });

}  // namespace
