#include <gtest/gtest.h>
#include <poll.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "platform/x11/X11Windows.h"
#include "tests/OnX.h"

namespace {

// A client of the test's own, which can tell whether the server answers at all.
class Client {
 public:
  explicit Client(const QString& display = OnX::screen->display())
      : c_(xcb_connect(display.toLocal8Bit().constData(), &screen_)) {}
  ~Client() { xcb_disconnect(c_); }
  xcb_connection_t* get() const { return c_; }
  xcb_window_t root() const {
    auto it = xcb_setup_roots_iterator(xcb_get_setup(c_));
    for (int i = 0; i < screen_; ++i) xcb_screen_next(&it);
    return it.data->root;
  }

  // Whether a round trip comes back within the (generous) deadline; a held server never
  // answers.
  bool answers(std::chrono::seconds deadline) {
    const unsigned int asked = xcb_get_input_focus(c_).sequence;
    xcb_flush(c_);
    const auto until = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < until) {
      void* reply = nullptr;
      xcb_generic_error_t* error = nullptr;
      if (xcb_poll_for_reply(c_, asked, &reply, &error)) {
        std::free(reply);
        std::free(error);
        return true;
      }
      pollfd p{xcb_get_file_descriptor(c_), POLLIN, 0};
      ::poll(&p, 1, 100);
    }
    return false;
  }

  xcb_window_t window(xcb_window_t parent, const char* wmClass, std::size_t classBytes,
                      const char* wmName, const char* netWmName, bool wmState) {
    const xcb_window_t w = xcb_generate_id(c_);
    xcb_create_window(c_, XCB_COPY_FROM_PARENT, w, parent, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    if (wmClass)
      xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                          static_cast<std::uint32_t>(classBytes), wmClass);
    if (wmName)
      xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                          static_cast<std::uint32_t>(std::strlen(wmName)), wmName);
    if (netWmName)
      xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, atom("_NET_WM_NAME"), atom("UTF8_STRING"),
                          8, static_cast<std::uint32_t>(std::strlen(netWmName)), netWmName);
    if (wmState) {
      const std::uint32_t normal[2] = {1, 0};
      const xcb_atom_t state = atom("WM_STATE");
      xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, state, state, 32, 2, normal);
    }
    std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
    return w;
  }

 private:
  xcb_atom_t atom(const char* name) {
    auto* r = xcb_intern_atom_reply(
        c_, xcb_intern_atom(c_, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(r);
    return a;
  }
  int screen_ = 0;
  xcb_connection_t* c_;
};

TEST(X11Windows, AVisitorThatThrowsLeavesTheServerFreeForOthers) {
  Client other;            // connected first: a held server does not even take new clients in
  X11Windows windows({});  // alive while the other client asks: its connection holds any grab
  EXPECT_THROW(windows.enumerate([](WindowHandle) -> bool { throw std::runtime_error("visitor"); }),
               std::runtime_error);
  EXPECT_TRUE(other.answers(std::chrono::seconds(20))) << "the server is still held";
}

struct Seen {
  WindowHandle handle;
  QByteArray className, title;
};

// What the guard reads: a framed client (the descendant with WM_STATE), the UTF-8 name before
// the old one, the class part of WM_CLASS; the topmost first.
TEST(X11Windows, TheWalkReadsEachTopLevelWindowsClientClassAndTitleTopmostFirst) {
  Client c;
  static const char appClass[] = "vendrel\0TApplication";
  const xcb_window_t plain = c.window(c.root(), appClass, sizeof appClass, "old", "новое", false);
  const xcb_window_t frame = c.window(c.root(), nullptr, 0, "frame", nullptr, false);
  const xcb_window_t inner = c.window(frame, nullptr, 0, "decoration", nullptr, false);
  static const char formClass[] = "vendrel\0TForm1";
  const xcb_window_t client =
      c.window(inner, formClass, sizeof formClass, "Вендрел (x3)", nullptr, true);
  const xcb_window_t untitled = c.window(c.root(), nullptr, 0, nullptr, nullptr, false);

  X11Windows windows({});
  std::vector<Seen> seen;
  windows.enumerate([&](WindowHandle w) {
    EXPECT_NE(windows.owningThread(w), 0u);
    seen.push_back({w, windows.className(w, 95), windows.title(w, 210)});
    return true;
  });
  auto at = [&](xcb_window_t w) {
    for (std::size_t i = 0; i < seen.size(); ++i)
      if (seen[i].handle == w) return static_cast<int>(i);
    return -1;
  };
  ASSERT_GE(at(untitled), 0);
  ASSERT_GE(at(client), 0) << "the framed client is not the window visited";
  ASSERT_GE(at(plain), 0);
  EXPECT_EQ(at(frame), -1);
  EXPECT_LT(at(untitled), at(client));
  EXPECT_LT(at(client), at(plain));
  EXPECT_EQ(seen[at(plain)].className, "TApplication");
  EXPECT_EQ(seen[at(plain)].title, "новое");
  EXPECT_EQ(seen[at(client)].className, "TForm1");
  EXPECT_EQ(seen[at(client)].title, "Вендрел (x3)");
  EXPECT_EQ(seen[at(untitled)].className, "");
  EXPECT_EQ(seen[at(untitled)].title, "");

  // Once the walk is over, the windows are asked afresh: a window gone has no owner.
  xcb_destroy_window(c.get(), plain);
  xcb_flush(c.get());
  ASSERT_TRUE(c.answers(std::chrono::seconds(20)));
  EXPECT_EQ(windows.owningThread(plain), 0u);
  for (xcb_window_t w : {frame, untitled}) xcb_destroy_window(c.get(), w);
  xcb_flush(c.get());
}

// DISPLAY=:N.1 puts the program on the second screen: a copy running there is found there.
TEST(X11Windows, TheWalkIsOnTheScreenTheDisplayNames) {
  VirtualScreen two(320, 200,
                    {QStringLiteral("-screen"), QStringLiteral("1"), QStringLiteral("320x200x24")});
  const QString second = two.display() + QStringLiteral(".1");
  Client c(second);
  static const char appClass[] = "vendrel\0TApplication";
  const xcb_window_t copy =
      c.window(c.root(), appClass, sizeof appClass, "Вендрел", nullptr, false);
  const QByteArray before = qgetenv("DISPLAY");
  qputenv("DISPLAY", second.toLocal8Bit());
  bool found = false;
  {
    X11Windows windows({});
    windows.enumerate([&](WindowHandle w) { return !(found = w == copy); });
  }
  qputenv("DISPLAY", before);
  EXPECT_TRUE(found) << "the walk looked at another screen";
}

// A second copy asks the first to come forward and ends at once: every request must arrive all
// the same, however soon the asking connection closes.
TEST(X11Windows, ACopyThatAsksAndEndsAtOnceIsHeard) {
  int heard = 0;
  X11Windows first([&] { ++heard; });
  first.setApplicationTitle(QStringLiteral("Вендрел-проба"));
  first.enumerate([](WindowHandle) { return false; });  // makes its window known by its class
  constexpr int Copies = 40;
  for (int i = 0; i < Copies; ++i) {
    X11Windows second({});
    WindowHandle found = 0;
    second.enumerate([&](WindowHandle w) {
      if (second.className(w, 95) == "TApplication" &&
          second.title(w, 210) == QStringLiteral("Вендрел-проба").toUtf8())
        found = w;
      return found == 0;
    });
    ASSERT_NE(found, 0u);
    second.setForeground(found);
    second.show(found, 1);
  }
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (heard < 2 * Copies && std::chrono::steady_clock::now() < until)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  EXPECT_EQ(heard, 2 * Copies);
}

std::vector<QString> x11Warnings;

TEST(X11Windows, AnErrorFromTheServerIsToldInTheLog) {
  const QtMessageHandler previous = qInstallMessageHandler(
      [](QtMsgType type, const QMessageLogContext& context, const QString& m) {
        if (type == QtWarningMsg && QByteArray(context.category) == "vendrel.x11")
          x11Warnings.push_back(m);
      });
  X11Windows windows({});
  Client c;
  const xcb_window_t gone = c.window(c.root(), nullptr, 0, nullptr, nullptr, false);
  xcb_destroy_window(c.get(), gone);
  ASSERT_TRUE(c.answers(std::chrono::seconds(20)));
  windows.setForeground(gone);  // a window that is no more: BadWindow comes back
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (x11Warnings.empty() && std::chrono::steady_clock::now() < until)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  qInstallMessageHandler(previous);
  ASSERT_EQ(x11Warnings.size(), 1u);
  EXPECT_TRUE(x11Warnings[0].contains(QStringLiteral("X error 3"))) << x11Warnings[0].toStdString();
}

}  // namespace
