#include "platform/SafeWrite.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <cerrno>

namespace {

// The system's calls, with one of them failing as a full disk, a size limit or a lost device
// makes it fail.
class FailingCalls : public FileCalls {
 public:
  enum Step { Nothing, Create, Mode, FirstWrite, LaterWrite, Sync, Close, Rename };
  explicit FailingCalls(Step failing) : failing_(failing) {}

  int createUnique(char* t) override { return fails(Create, ENOSPC) ? -1 : real().createUnique(t); }
  ssize_t write(int fd, const char* data, std::size_t size) override {
    ++writes_;
    if (fails(FirstWrite, ENOSPC)) return -1;
    if (failing_ == LaterWrite && writes_ > 1) return fails(LaterWrite, EFBIG) ? -1 : 0;
    // Short writes, as a pipe or a signal may cause: a few bytes at a time.
    return real().write(fd, data, std::min<std::size_t>(size, 7));
  }
  int setMode(int fd, mode_t mode) override {
    return fails(Mode, EPERM) ? -1 : real().setMode(fd, mode);
  }
  int sync(int fd) override { return fails(Sync, EIO) ? -1 : real().sync(fd); }
  int close(int fd) override {
    const int result = real().close(fd);  // the descriptor goes either way, as with close(2)
    return fails(Close, EIO) ? -1 : result;
  }
  int rename(const char* from, const char* to) override {
    return fails(Rename, EXDEV) ? -1 : real().rename(from, to);
  }
  int remove(const char* path) override { return real().remove(path); }

 private:
  static FileCalls& real() { return systemFileCalls(); }
  bool fails(Step step, int error) {
    if (failing_ != step) return false;
    errno = error;
    return true;
  }
  Step failing_;
  int writes_ = 0;
};

QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

const QByteArray Old = "; kept\r\n[MainForm]\r\nLeft=744\r\n";
const QByteArray New = "[TrackBar]\r\nPosition=4\r\n" + QByteArray(200, 'x');

// A settings file with the old contents, in `dir`; its path.
QString oldFileIn(const QTemporaryDir& dir) {
  const QString path = dir.filePath(QStringLiteral("Vendrel.ini"));
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly) || f.write(Old) != Old.size()) ADD_FAILURE() << "cannot write";
  return path;
}

TEST(ReplaceFile, AFailureAnywhereLeavesTheOldFileAsItWasAndNothingBeside) {
  const struct {
    FailingCalls::Step step;
    const char* name;
  } cases[] = {{FailingCalls::Create, "create"},
               {FailingCalls::Mode, "permissions"},
               {FailingCalls::FirstWrite, "first write"},
               {FailingCalls::LaterWrite, "later write"},
               {FailingCalls::Sync, "sync"},
               {FailingCalls::Close, "close"},
               {FailingCalls::Rename, "rename"}};
  for (const auto& c : cases) {
    QTemporaryDir dir;
    const QString path = oldFileIn(dir);
    FailingCalls calls(c.step);
    EXPECT_THROW(replaceFile(path, New, calls), WriteError) << c.name;
    EXPECT_EQ(readAll(path), Old) << c.name;
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("Vendrel.ini")})
        << c.name << ": the new file is removed";
  }
}

TEST(ReplaceFile, ReplacesTheWholeFileAndKeepsItsPermissions) {
  QTemporaryDir dir;
  const QString path = oldFileIn(dir);
  ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
  FailingCalls shortWrites(FailingCalls::Nothing);
  replaceFile(path, New, shortWrites);
  EXPECT_EQ(readAll(path), New);
  struct stat st {};
  ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 1);
}

TEST(ReplaceFile, ANewFileIsCreatedAndALinkIsWrittenThrough) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("new.ini"));
  replaceFile(path, New);
  EXPECT_EQ(readAll(path), New);
  struct stat st {};
  ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
  EXPECT_NE(st.st_mode & 0600, 0u) << "the owner reads and writes it";

  const QString link = dir.filePath(QStringLiteral("link.ini"));
  ASSERT_TRUE(QFile::link(path, link));
  replaceFile(link, Old);
  EXPECT_TRUE(QFileInfo(link).isSymLink()) << "the link stays a link";
  EXPECT_EQ(readAll(path), Old);
}

}  // namespace
