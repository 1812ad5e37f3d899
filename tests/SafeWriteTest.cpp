#include "platform/system/SafeWrite.h"
#include "tests/PassThroughCalls.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <cerrno>

namespace {

// The system's calls, with one of them failing as a full disk, a size limit or a lost device
// makes it fail.
class FailingCalls : public PassThroughCalls {
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

 private:
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

TEST(ReplaceFile, AChainOfLinksIsFollowedToItsEndAndALoopFails) {
  QTemporaryDir dir;
  ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("c")));
  const QString real = dir.filePath(QStringLiteral("c/c.ini"));
  {
    QFile f(real);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(Old);
  }
  const auto link = [&](const char* target, const char* at) {
    return ::symlink(target, QFile::encodeName(dir.filePath(QString::fromLatin1(at))).constData());
  };
  ASSERT_EQ(link("c/c.ini", "b.ini"), 0);  // relative to the folder that holds the link
  ASSERT_EQ(link("b.ini", "a.ini"), 0);
  const QString a = dir.filePath(QStringLiteral("a.ini"));
  EXPECT_EQ(realFile(a), real);
  replaceFile(a, New);
  EXPECT_EQ(readAll(real), New);
  EXPECT_TRUE(QFileInfo(dir.filePath(QStringLiteral("b.ini"))).isSymLink());
  EXPECT_TRUE(QFileInfo(a).isSymLink());

  ASSERT_EQ(link("d.ini", "missing.ini"), 0);
  EXPECT_EQ(realFile(dir.filePath(QStringLiteral("missing.ini"))),
            dir.filePath(QStringLiteral("d.ini")))
      << "a missing end is the file to create";

  ASSERT_EQ(link("loop2.ini", "loop1.ini"), 0);
  ASSERT_EQ(link("loop1.ini", "loop2.ini"), 0);
  const QStringList before = QDir(dir.path()).entryList(QDir::Files | QDir::System);
  EXPECT_THROW(replaceFile(dir.filePath(QStringLiteral("loop1.ini")), New), WriteError);
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::System), before);
}

TEST(ReplaceFile, RemovesWhatAKilledReplacementLeftAndNothingElse) {
  QTemporaryDir dir;
  const QString path = oldFileIn(dir);
  const auto make = [&](const char* name) {
    QFile f(dir.filePath(QString::fromLatin1(name)));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly)) << name;
    f.write(Old);
  };
  make("Vendrel.ini.aB3xY9");  // a killed save's
  make("Vendrel.ini.Q0q0Q0");  // another
  const struct {
    const char* name;
    const char* why;
  } kept[] = {{"Vendrel.ini.bak", "not a name a save makes"},
              {"Vendrel.ini.backup1", "seven characters"},
              {"Vendrel.ini.ab-cd_", "not letters and digits"},
              {"Other.ini.abcdef", "another file's"},
              {"Vendrel.ini.L0cked", "a save still going on"}};
  for (const auto& k : kept) make(k.name);
  ASSERT_EQ(
      ::symlink("Vendrel.ini",
                QFile::encodeName(dir.filePath(QStringLiteral("Vendrel.ini.Zz9Yy8"))).constData()),
      0);
  const int locked =
      ::open(QFile::encodeName(dir.filePath(QStringLiteral("Vendrel.ini.L0cked"))).constData(),
             O_RDONLY | O_CLOEXEC);
  ASSERT_GE(locked, 0);
  ASSERT_EQ(::flock(locked, LOCK_EX), 0);

  replaceFile(path, New);
  ::close(locked);
  EXPECT_EQ(readAll(path), New);
  const QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::System);
  EXPECT_FALSE(left.contains(QStringLiteral("Vendrel.ini.aB3xY9")));
  EXPECT_FALSE(left.contains(QStringLiteral("Vendrel.ini.Q0q0Q0")));
  for (const auto& k : kept) EXPECT_TRUE(left.contains(QString::fromLatin1(k.name))) << k.why;
  EXPECT_TRUE(left.contains(QStringLiteral("Vendrel.ini.Zz9Yy8"))) << "a link";
}

}  // namespace
