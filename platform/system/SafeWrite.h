#pragma once

#include <sys/types.h>

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <stdexcept>

// The system calls that replacing a file makes, one by one, so that a test can make any of them
// fail as a full disk or a lost device would.
class FileCalls {
 public:
  virtual ~FileCalls() = default;
  // mkstemp(): a new file named after the template, open for writing and locked (flock) for as
  // long as it is open, so that another save can tell it from one a killed save left; -1 on
  // failure.
  virtual int createUnique(char* pathTemplate) = 0;
  virtual ssize_t write(int fd, const char* data, std::size_t size) = 0;
  virtual int setOwner(int fd, uid_t owner, gid_t group) = 0;
  virtual int setMode(int fd, mode_t mode) = 0;
  virtual int sync(int fd) = 0;
  virtual int close(int fd) = 0;
  virtual int rename(const char* from, const char* to) = 0;
  virtual int remove(const char* path) = 0;
};

// The operating system's own.
FileCalls& systemFileCalls();

// A file that could not be replaced; the old one is as it was.
class WriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Replaces the file at `path` (the file at the end of a chain of symbolic links there) by
// `content`, keeping its owner, group and permissions. The bytes go to a new file beside it,
// which takes the old one's place only once every write, the sync and the close have
// succeeded: whatever fails (a full disk, a size limit, a lost device), the old file stays
// exactly as it was and the new one is removed. New files that a killed replacement left beside
// it are removed first. Throws WriteError.
void replaceFile(const QString& path, const QByteArray& content,
                 FileCalls& calls = systemFileCalls());

// The file that replacing `path` replaces: the end of the chain of symbolic links that starts
// there (a missing end included). Throws WriteError on a loop or a chain too long to follow.
QString realFile(const QString& path);

// A write that reaches the file size limit (RLIMIT_FSIZE) fails with EFBIG instead of killing
// the program, which then keeps the old file and goes on.
void failWritesBeyondTheSizeLimit();
