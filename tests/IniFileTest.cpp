#include "platform/IniFile.h"

#include <gtest/gtest.h>

#include <QFile>
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
      "X=1\r\n"
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

// Generated files of arbitrary bytes: reading never fails, a written value reads back equal,
// and every line the write did not touch is still there, in order.
TEST(IniFile, RandomFilesRoundTrip) {
  QTemporaryDir dir;
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
      IniFile ini(path);
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

}  // namespace
