#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <utility>

// A file descriptor of this program's own, closed when it goes: the PipeWire remote the portal
// hands over, until PipeWire takes it.
class Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(Descriptor&& other) noexcept : fd_(other.release()) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    if (this != &other) {
      Descriptor gone(std::exchange(fd_, other.release()));
    }
    return *this;
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  // A copy of `fd` that children started later (the help viewer, the About links) do not get.
  static Descriptor duplicate(int fd) {
    return Descriptor(fd >= 0 ? ::fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1);
  }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  // Hands the descriptor over to whoever closes it from now on.
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_ = -1;
};
