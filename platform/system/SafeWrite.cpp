#include "platform/system/SafeWrite.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <memory>
#include <system_error>

#include "platform/system/Log.h"

namespace {

class SystemFileCalls final : public FileCalls {
 public:
  int createUnique(char* pathTemplate) override {
    const int fd = ::mkostemp(pathTemplate, O_CLOEXEC);
    // Never blocks: only another save's clean-up, about to remove a file of that name that a
    // killed save left, could hold the lock, and then the name is made anew.
    if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      ::close(fd);
      errno = error;
      return -1;
    }
    return fd;
  }
  ssize_t write(int fd, const char* data, std::size_t size) override {
    return ::write(fd, data, size);
  }
  int setOwner(int fd, uid_t owner, gid_t group) override { return ::fchown(fd, owner, group); }
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
  throw WriteError(std::string(what) + ": " + std::generic_category().message(error));
}

// "<name>.XXXXXX", as mkstemp() names a new file beside <name>.
bool leftoverName(const QByteArray& name, const QByteArray& prefix) {
  if (name.size() != prefix.size() + 6 || !name.startsWith(prefix)) return false;
  for (char c : name.mid(prefix.size()))
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
  return true;
}

// Removes the new files that a replacement of `target` killed before its rename left beside
// it: each a whole copy of the file, for good. Only this user's plain files named as a
// replacement names them, and none that a replacement still going on holds locked.
void removeLeftovers(const QByteArray& target, FileCalls& calls) {
  const qsizetype slash = target.lastIndexOf('/');
  const QByteArray folder =
      slash < 0 ? QByteArray(".") : target.left(std::max<qsizetype>(slash, 1));
  const QByteArray prefix = target.mid(slash + 1) + '.';
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.constData()), ::closedir);
  if (!dir) return;
  while (const dirent* entry = ::readdir(dir.get())) {
    const QByteArray name(entry->d_name);
    if (!leftoverName(name, prefix)) continue;
    const QByteArray path = folder + '/' + name;
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
        ::flock(fd, LOCK_EX | LOCK_NB) == 0 && calls.remove(path.constData()) != 0)
      qCWarning(lcSettings) << "cannot remove" << path << "left by an earlier save:"
                            << std::generic_category().message(errno).c_str();
    ::close(fd);
  }
}

}  // namespace

QString realFile(const QString& path) {
  // As the system follows links (40 at most), but to a missing end too: that one is created.
  constexpr int MostLinks = 40;
  QByteArray at = QFile::encodeName(path);
  for (int links = 0;; ++links) {
    struct stat st {};
    if (::lstat(at.constData(), &st) != 0 || !S_ISLNK(st.st_mode)) return QFile::decodeName(at);
    if (links == MostLinks) fail("cannot follow its links", ELOOP);
    char target[PATH_MAX];
    const ssize_t n = ::readlink(at.constData(), target, sizeof target);
    if (n < 0) fail("cannot read its link", errno);
    if (n == sizeof target) fail("cannot read its link", ENAMETOOLONG);
    const QByteArray to(target, n);
    // A relative target starts from the folder that holds the link.
    const qsizetype slash = at.lastIndexOf('/');
    at = to.startsWith('/') || slash < 0 ? to : at.left(slash + 1) + to;
  }
}

FileCalls& systemFileCalls() {
  static SystemFileCalls calls;
  return calls;
}

void replaceFile(const QString& path, const QByteArray& content, FileCalls& calls) {
  const QByteArray targetPath = QFile::encodeName(realFile(path));
  struct stat old {};
  const bool exists = ::stat(targetPath.constData(), &old) == 0;
  removeLeftovers(targetPath, calls);

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
  // A run as the superuser (sudo in the user's own folder) must leave the user's file the
  // user's. Anyone else can give a file to no one else: the new one is theirs, as with any
  // editor, but its group is kept where they belong to it.
  if (exists && calls.setOwner(fd, old.st_uid, old.st_gid) != 0 &&
      calls.setOwner(fd, static_cast<uid_t>(-1), old.st_gid) != 0)
    qCWarning(lcSettings) << "cannot keep the owner of" << targetPath << ":"
                          << std::generic_category().message(errno).c_str();
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

void failWritesBeyondTheSizeLimit() {
  ::signal(SIGXFSZ, SIG_IGN);
}
