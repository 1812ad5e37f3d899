#include "platform/SafeWrite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>

namespace {

class SystemFileCalls final : public FileCalls {
 public:
  int createUnique(char* pathTemplate) override { return ::mkostemp(pathTemplate, O_CLOEXEC); }
  ssize_t write(int fd, const char* data, std::size_t size) override {
    return ::write(fd, data, size);
  }
  int setMode(int fd, mode_t mode) override { return ::fchmod(fd, mode); }
  int sync(int fd) override { return ::fsync(fd); }
  int close(int fd) override { return ::close(fd); }
  int rename(const char* from, const char* to) override { return ::rename(from, to); }
  int remove(const char* path) override { return ::unlink(path); }
};

// What a new file gets: read and write for all, less the process's umask (read without
// changing it, which umask() cannot do).
mode_t newFileMode() {
  mode_t mask = 022;
  QFile status(QStringLiteral("/proc/self/status"));
  if (status.open(QIODevice::ReadOnly))
    for (const QByteArray& line : status.readAll().split('\n'))
      if (line.startsWith("Umask:"))
        mask = static_cast<mode_t>(line.mid(6).trimmed().toUInt(nullptr, 8));
  return 0666 & ~mask;
}

[[noreturn]] void fail(const char* what, int error) {
  throw WriteError(std::string(what) + ": " + std::strerror(error));
}

}  // namespace

FileCalls& systemFileCalls() {
  static SystemFileCalls calls;
  return calls;
}

void replaceFile(const QString& path, const QByteArray& content, FileCalls& calls) {
  const QFileInfo link(path);
  const QString target = link.isSymLink() ? link.symLinkTarget() : path;
  const QByteArray targetPath = QFile::encodeName(target);
  struct stat old {};
  const bool exists = ::stat(targetPath.constData(), &old) == 0;

  QByteArray temporary = targetPath + ".XXXXXX";
  const int fd = calls.createUnique(temporary.data());
  if (fd < 0) fail("cannot create a file beside it", errno);
  // From here on every failure removes the new file and leaves the old one alone.
  auto abandon = [&](const char* what) {
    const int error = errno;
    if (fd >= 0) calls.close(fd);
    calls.remove(temporary.constData());
    fail(what, error);
  };
  if (calls.setMode(fd, exists ? (old.st_mode & 07777) : newFileMode()) != 0)
    abandon("cannot set its permissions");
  for (qsizetype done = 0; done < content.size();) {
    const ssize_t n = calls.write(fd, content.constData() + done,
                                  static_cast<std::size_t>(content.size() - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      abandon("cannot write it");
    }
    done += n;
  }
  if (calls.sync(fd) != 0) abandon("cannot flush it to the disk");
  if (calls.close(fd) != 0) {
    const int error = errno;
    calls.remove(temporary.constData());
    fail("cannot close it", error);
  }
  if (calls.rename(temporary.constData(), targetPath.constData()) != 0) {
    const int error = errno;
    calls.remove(temporary.constData());
    fail("cannot put it in place", error);
  }
}
