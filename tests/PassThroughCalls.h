#pragma once

#include "platform/system/SafeWrite.h"

// The operating system's own file calls, for a test double to override the few it changes.
class PassThroughCalls : public FileCalls {
 public:
  int createUnique(char* t) override { return real().createUnique(t); }
  ssize_t write(int fd, const char* data, std::size_t size) override {
    return real().write(fd, data, size);
  }
  int setOwner(int fd, uid_t owner, gid_t group) override {
    return real().setOwner(fd, owner, group);
  }
  int setMode(int fd, mode_t mode) override { return real().setMode(fd, mode); }
  int sync(int fd) override { return real().sync(fd); }
  int close(int fd) override { return real().close(fd); }
  int rename(const char* from, const char* to) override { return real().rename(from, to); }
  int remove(const char* path) override { return real().remove(path); }

 protected:
  static FileCalls& real() { return systemFileCalls(); }
};
