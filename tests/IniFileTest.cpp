#include "platform/system/IniFile.h"

#include <gtest/gtest.h>

#include "platform/system/SafeWrite.h"
#include "tests/PassThroughCalls.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <random>

namespace {

QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(bytes);
}

TEST(IniFile, KeepsEveryLineItDoesNotWrite) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("a.ini"));
  // Comments, blank lines, odd spacing, Windows-1251 bytes, duplicates, LF-only lines, and no
  // line end at the very end.
  const QByteArray original =
      "; \xcd\xe0\xf1\xf2\xf0\xee\xe9\xea\xe8 (settings)\r\n"
      "\r\n"
      "[Other]\n"
      "  Name = \xc2\xe5\xed\xe4\xf0\xe5\xeb  \r\n"
      "Name=second\r\n"
      "[MainForm]\r\n"
      "Left=1\r\n"
      ";Top=99\r\n"
      "left=2\r\n"
      "   \r\n"
      "\r\n"
      "[Tail]\r\n"
      "X=1";
  writeAll(path, original);
  {
    IniFile ini(path);
    EXPECT_EQ(ini.readString("other", "name", "?"), "\xc2\xe5\xed\xe4\xf0\xe5\xeb");
    EXPECT_EQ(ini.readInteger("MainForm", "LEFT", 0), 1) << "the first of duplicate keys";
    EXPECT_FALSE(ini.valueExists("MainForm", "Top")) << "commented out";
    ini.writeInteger("MainForm", "Left", 744);     // in place
    ini.writeInteger("MainForm", "Top", 39);       // at the end of its section
    ini.writeBool("ScalePanel", "Visible", true);  // new section at the end
    ini.removeKey("Tail", "x");
  }
  const QByteArray expected =
      "; \xcd\xe0\xf1\xf2\xf0\xee\xe9\xea\xe8 (settings)\r\n"
      "\r\n"
      "[Other]\n"
      "  Name = \xc2\xe5\xed\xe4\xf0\xe5\xeb  \r\n"
      "Name=second\r\n"
      "[MainForm]\r\n"
      "Left=744\r\n"
      ";Top=99\r\n"
      "left=2\r\n"
      "Top=39\r\n"
      "   \r\n"
      "\r\n"
      "[Tail]\r\n"
      "[ScalePanel]\r\n"
      "Visible=1\r\n";
  EXPECT_EQ(readAll(path), expected);
}

TEST(IniFile, CreatesAMissingFileWithCrLf) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("new.ini"));
  IniFile ini(path);
  ini.writeInteger("TrackBar", "Position", 3);
  ini.writeInteger("MainForm", "Left", 744);
  EXPECT_EQ(readAll(path), "[TrackBar]\r\nPosition=3\r\n[MainForm]\r\nLeft=744\r\n");
}

TEST(IniFile, FloatsUseTheGivenDecimalSeparator) {
  EXPECT_EQ(formatIniFloat(1.5, ','), "1,5");
  EXPECT_EQ(formatIniFloat(-0.25, '.'), "-0.25");
  EXPECT_EQ(parseIniFloat("1,5", ','), 1.5);
  EXPECT_EQ(parseIniFloat("1.5", ','), std::nullopt) << "not the user's separator";
  EXPECT_EQ(parseIniFloat("2.5e3", '.'), 2500.0);
  EXPECT_EQ(parseIniFloat("", '.'), std::nullopt);
  EXPECT_EQ(parseIniFloat("x", '.'), std::nullopt);
  for (double v : {0.1, 1e-300, -123456.789, 3.0})
    EXPECT_EQ(parseIniFloat(formatIniFloat(v, ','), ','), v);
}

// The system's calls but the flush to the disk: the same bytes in the same file, and thousands
// of files written in a moment, as the parsing under test never depends on the disk having them.
class UnflushedCalls : public PassThroughCalls {
 public:
  int sync(int) override { return 0; }
};

// A folder in memory where the system has one: ext4 flushes a file that replaces or truncates
// another even unasked, a few milliseconds each time.
QTemporaryDir memoryFolder() {
  const QString shm = QStringLiteral("/dev/shm");
  return QFileInfo(shm).isWritable() ? QTemporaryDir(shm + QStringLiteral("/vendrel-XXXXXX"))
                                     : QTemporaryDir();
}

// Generated files of arbitrary bytes: reading never fails, a written value reads back equal,
// and every line the write did not touch is still there, in order.
TEST(IniFile, RandomFilesRoundTrip) {
  UnflushedCalls calls;
  const QTemporaryDir dir = memoryFolder();
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath(QStringLiteral("r.ini"));
  std::mt19937 random(1251);
  static const char letters[] = "[]=; \t\r\nSKsk01x\xc0\xff\xe9";
  const QByteArray alphabet(letters, sizeof letters - 1);
  std::uniform_int_distribution<int> pick(0, static_cast<int>(alphabet.size()) - 1);
  std::uniform_int_distribution<int> length(0, 120);
  std::uniform_int_distribution<int> valueChar(0x21, 0xff);
  for (int round = 0; round < 2000; ++round) {
    QByteArray original;
    for (int n = length(random), i = 0; i < n; ++i) original += alphabet[pick(random)];
    writeAll(path, original);
    QByteArray value;
    for (int n = length(random) % 12, i = 0; i < n; ++i)
      value += static_cast<char>(valueChar(random));
    {
      IniFile ini(path, calls);
      ini.readInteger("S", "K", 0);
      ini.writeString("S", "K", value);
    }
    IniFile again(path);
    ASSERT_EQ(again.readString("s", "k", "<none>"), value.trimmed()) << "round " << round;

    // The new file is the old one with one line replaced or up to three lines added, and at
    // most a line end added to the line before them.
    const QList<QByteArray> before = original.split('\n'), after = readAll(path).split('\n');
    const qsizetype n = before.size(), m = after.size();
    qsizetype prefix = 0, suffix = 0;
    while (prefix < std::min(n, m) &&
           (before[prefix] == after[prefix] || before[prefix] + "\r" == after[prefix]))
      ++prefix;
    while (suffix < std::min(n, m) - prefix && before[n - 1 - suffix] == after[m - 1 - suffix])
      ++suffix;
    EXPECT_LE(n - prefix - suffix, 1) << "round " << round << ": old lines went missing";
    EXPECT_LE(m - prefix - suffix, 3) << "round " << round;
  }
}

// The system's calls, counting the files put in place and keeping the bytes written.
class RecordingCalls : public PassThroughCalls {
 public:
  ssize_t write(int fd, const char* data, std::size_t size) override {
    written.append(data, static_cast<qsizetype>(size));
    return real().write(fd, data, size);
  }
  int rename(const char* from, const char* to) override {
    ++renames;
    return real().rename(from, to);
  }

  QByteArray written;
  int renames = 0;
};

// The six values a close saves, in the order it saves them.
void writeSix(IniFile& ini, int step) {
  switch (step) {
    case 0:
      return ini.writeInteger("TrackBar", "Position", 7);
    case 1:
      return ini.writeInteger("MainForm", "Left", -12);
    case 2:
      return ini.writeInteger("MainForm", "Top", 39);
    case 3:
      return ini.writeInteger("MainForm", "Width", 280);
    case 4:
      return ini.writeInteger("MainForm", "Height", 298);
    default:
      return ini.writeBool("ScalePanel", "Visible", false);
  }
}

TEST(IniFile, HeldWritesReplaceTheFileOnceWithTheBytesOfTheWritesOneByOne) {
  const struct {
    const char* what;
    QByteArray original;  // "<none>": no file
    QByteArray expected;  // empty: only the same as the writes one by one
  } cases[] = {
      {"no file", "<none>",
       "[TrackBar]\r\nPosition=7\r\n[MainForm]\r\nLeft=-12\r\nTop=39\r\nWidth=280\r\n"
       "Height=298\r\n[ScalePanel]\r\nVisible=0\r\n"},
      {"every key there",
       "[TrackBar]\r\nPosition=3\r\n[MainForm]\r\nLeft=744\r\nTop=39\r\nWidth=280\r\n"
       "Height=298\r\n[ScalePanel]\r\nVisible=1\r\n",
       "[TrackBar]\r\nPosition=7\r\n[MainForm]\r\nLeft=-12\r\nTop=39\r\nWidth=280\r\n"
       "Height=298\r\n[ScalePanel]\r\nVisible=0\r\n"},
      {"sections missing, keys in another case, a comment kept",
       "; mine\r\n[mainform]\r\nTOP=1\r\n\r\n[Other]\r\nA=1\r\n",
       "; mine\r\n[mainform]\r\nTOP=39\r\nLeft=-12\r\nWidth=280\r\nHeight=298\r\n\r\n[Other]\r\n"
       "A=1\r\n[TrackBar]\r\nPosition=7\r\n[ScalePanel]\r\nVisible=0\r\n"},
      {"Windows-1251 lines and no line end at the end",
       "; \xcd\xe0\xf1\xf2\xf0\xee\xe9\xea\xe8\r\n[\xc2\xe5\xed\xe4\xf0\xe5\xeb]\r\n"
       "\xc8\xec\xff=\xc7\xed\xe0\xf7\xe5\xed\xe8\xe5\r\n[ScalePanel]\r\nVisible=1",
       {}},
      {"LF lines", "[TrackBar]\nPosition=3\n[MainForm]\nLeft=5\n\n\n[Tail]\nX=1\n", {}},
      {"an empty file", "", {}},
      {"a section named twice", "[MainForm]\r\nLeft=1\r\n[MainForm]\r\nTop=2\r\n", {}},
      {"spaces and an empty section",
       "  [ TrackBar ]  \r\n  Position = 3  \r\n[ScalePanel]\r\n[MainForm]\r\n",
       {}},
  };
  for (const auto& c : cases) {
    QTemporaryDir dir;
    const QString one = dir.filePath(QStringLiteral("one.ini"));
    const QString held = dir.filePath(QStringLiteral("held.ini"));
    if (c.original != "<none>") {
      writeAll(one, c.original);
      writeAll(held, c.original);
    }
    for (int step = 0; step < 6; ++step) {  // as the close did it: each write reads anew
      IniFile ini(one);
      writeSix(ini, step);
    }
    RecordingCalls calls;
    IniFile ini(held, calls);
    ini.holdWrites();
    for (int step = 0; step < 6; ++step) writeSix(ini, step);
    EXPECT_EQ(calls.renames, 0) << c.what << ": nothing written before the commit";
    EXPECT_EQ(readAll(held), c.original == "<none>" ? QByteArray() : c.original) << c.what;
    ini.commit();
    EXPECT_EQ(calls.renames, 1) << c.what;
    EXPECT_EQ(calls.written, readAll(one)) << c.what;
    EXPECT_EQ(readAll(held), readAll(one)) << c.what;
    if (!c.expected.isEmpty()) {
      EXPECT_EQ(readAll(held), c.expected) << c.what;
    }
  }
}

}  // namespace
