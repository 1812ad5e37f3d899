#include "platform/portal/PipeWireCapture.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>

namespace {

bool isOpen(int fd) {
  return ::fcntl(fd, F_GETFD) != -1;
}

TEST(Descriptor, TheRemotesCopyIsClosedOnExecAndWithItsOwner) {
  const int original = ::open("/dev/null", O_RDONLY);  // inherited by children, as some are
  ASSERT_GE(original, 0);
  int copy = -1;
  {
    Descriptor kept = Descriptor::duplicate(original);
    ASSERT_TRUE(kept);
    copy = kept.get();
    EXPECT_NE(copy, original);
    EXPECT_TRUE(::fcntl(copy, F_GETFD) & FD_CLOEXEC) << "an About link's browser never gets it";
    Descriptor moved = std::move(kept);
    EXPECT_FALSE(kept);
    EXPECT_EQ(moved.get(), copy);
  }
  EXPECT_FALSE(isOpen(copy));
  EXPECT_TRUE(isOpen(original));
  ::close(original);
  EXPECT_FALSE(Descriptor::duplicate(-1));
}

// Waits for `ended` with a generous deadline.
bool awaitEnd(const bool& ended) {
  QElapsedTimer waited;
  waited.start();
  while (!ended && waited.elapsed() < 30000) QCoreApplication::processEvents();
  return ended;
}

TEST(PipeWireCapture, ARemoteThatBreaksEndsTheCast) {
  // Not a socket: PipeWire takes it, and its first message fails.
  const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  bool ended = false;
  PipeWireCapture capture(Descriptor(fd), {{42, {0, 0, 640, 480}}}, [&] { ended = true; });
  EXPECT_TRUE(awaitEnd(ended));
  EXPECT_FALSE(capture.pointer());
  EXPECT_FALSE(capture.pictured({0, 0, 10, 10})) << "nothing to show";
}

TEST(PipeWireCapture, AStreamThatDoesNotStartWithinAFewSecondsIsAStalledCast) {
  // A remote that never answers: nothing fails, and no stream ever streams.
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
  QElapsedTimer waited;
  waited.start();
  bool ended = false;
  PipeWireCapture capture(Descriptor(pair[0]), {{42, {0, 0, 640, 480}}}, [&] { ended = true; });
  EXPECT_TRUE(awaitEnd(ended));
  EXPECT_GE(waited.elapsed(), PipeWireCapture::StallAfterMs) << "time enough to start";
  EXPECT_FALSE(capture.streaming());
  ::close(pair[1]);
}

}  // namespace
