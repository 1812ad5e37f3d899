#include "settings/Winifile.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <climits>

namespace {

class WIniFileTest : public ::testing::Test {
 protected:
  QString path(const char* name = "Vendrel.ini") const {
    return dir.filePath(QString::fromUtf8(name));
  }
  void put(const QByteArray& bytes, const char* name = "Vendrel.ini") {
    QFile f(path(name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
  }
  QByteArray bytes(const char* name = "Vendrel.ini") const {
    QFile f(path(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
  }
  bool readInt(const QString& file, const char* section, const char* key, int& value) {
    return ini.ReadParam(file, QString::fromUtf8(section), QString::fromUtf8(key), ptInteger,
                         &ini.StrValue, &ini.FloatValue, &value, &ini.BoolValue, false);
  }

  QTemporaryDir dir;
  WIniFile ini;
};

TEST_F(WIniFileTest, DescriptionNamesTheClass) {
  EXPECT_EQ(ini.Description, QStringLiteral("Класс: WIniFile"));
  EXPECT_TRUE(ini.StrValue.isEmpty());
}

TEST_F(WIniFileTest, MissingFileSectionOrKeyKeepsTheDefault) {
  int value = 42;
  EXPECT_FALSE(readInt(path("none.ini"), "MainForm", "Width", value));
  EXPECT_EQ(value, 42);
  put("[MainForm]\r\nLeft=5\r\n[Empty]\r\n");
  EXPECT_FALSE(readInt(path(), "MainForm", "Width", value));
  EXPECT_EQ(value, 42);
  EXPECT_FALSE(readInt(path(), "Empty", "Left", value)) << "a section with no key does not exist";
  EXPECT_FALSE(readInt(path(), "Other", "Left", value));
  EXPECT_EQ(value, 42);
  EXPECT_TRUE(readInt(path(), "mainform", "LEFT", value)) << "names ignore ASCII case";
  EXPECT_EQ(value, 5);
}

TEST_F(WIniFileTest, IntegerForms) {
  struct Case {
    QByteArray stored;
    int expected;
  };
  const Case cases[] = {
      {"12", 12},
      {"-12", -12},
      {"+12", 12},
      {"0x1F", 31},
      {"0X1f", 31},
      {"$ff", 255},
      {"2147483647", INT_MAX},
      {"-2147483648", INT_MIN},
      {" 42 ", 42},
      {"2147483648", 7},
      {"-2147483649", 7},
      {"0x80000000", 7},
      {"abc", 7},
      {"", 7},
      {"12abc", 7},
      {"0x", 7},
      {"1.5", 7},
      {"99999999999999999999", 7},
  };
  for (const auto& c : cases) {
    put("[S]\r\nK=" + c.stored + "\r\n");
    int value = 7;
    EXPECT_TRUE(readInt(path(), "S", "K", value)) << c.stored.constData() << ": the key exists";
    EXPECT_EQ(value, c.expected) << c.stored.constData();
  }
}

TEST_F(WIniFileTest, EachKindRoundTrips) {
  const QByteArray text("Привет, мир; a=b");
  EXPECT_TRUE(ini.WriteParam(path(), "S", "Str", ptString, &text, 0, 0, false, false));
  EXPECT_TRUE(ini.WriteParam(path(), "S", "Float", ptFloat, nullptr, -2.5e-3, 0, false, false));
  EXPECT_TRUE(ini.WriteParam(path(), "S", "Int", ptInteger, nullptr, 0, -77, false, false));
  EXPECT_TRUE(ini.WriteParam(path(), "S", "Bool", ptBool, nullptr, 0, 0, true, false));
  EXPECT_TRUE(bytes().contains("Bool=1\r\n")) << "true is stored as 1";
  EXPECT_TRUE(bytes().contains("Int=-77\r\n"));

  QByteArray s = "default";
  double f = 1;
  int i = 1;
  bool b = false;
  EXPECT_TRUE(ini.ReadParam(path(), "S", "Str", ptString, &s, &f, &i, &b, false));
  EXPECT_TRUE(ini.ReadParam(path(), "S", "Float", ptFloat, &s, &f, &i, &b, false));
  EXPECT_TRUE(ini.ReadParam(path(), "S", "Int", ptInteger, &s, &f, &i, &b, false));
  EXPECT_TRUE(ini.ReadParam(path(), "S", "Bool", ptBool, &s, &f, &i, &b, false));
  EXPECT_EQ(s, text);
  EXPECT_DOUBLE_EQ(f, -2.5e-3);
  EXPECT_EQ(i, -77);
  EXPECT_TRUE(b);
}

TEST_F(WIniFileTest, EmptyStringIsAValueAndBadBoolKeepsTheDefault) {
  put("[S]\r\nStr=\r\nBool=yes\r\nZero=0\r\n");
  QByteArray s = "default";
  bool b = true;
  EXPECT_TRUE(ini.ReadParam(path(), "S", "Str", ptString, &s, nullptr, nullptr, nullptr, false));
  EXPECT_EQ(s, QByteArray());
  EXPECT_TRUE(ini.ReadParam(path(), "S", "Bool", ptBool, nullptr, nullptr, nullptr, &b, false));
  EXPECT_TRUE(b);
  EXPECT_TRUE(ini.ReadParam(path(), "S", "Zero", ptBool, nullptr, nullptr, nullptr, &b, false));
  EXPECT_FALSE(b);
}

TEST_F(WIniFileTest, UnknownKindTouchesNothing) {
  put("[S]\r\nK=5\r\n");
  int i = 1;
  QByteArray s = "x";
  EXPECT_TRUE(
      ini.ReadParam(path(), "S", "K", static_cast<ParamType>(9), &s, nullptr, &i, nullptr, false));
  EXPECT_EQ(i, 1);
  EXPECT_EQ(s, "x");
  EXPECT_FALSE(ini.ReadParam(path(), "S", "Missing", static_cast<ParamType>(9), &s, nullptr, &i,
                             nullptr, false));
  EXPECT_TRUE(
      ini.WriteParam(path(), "S", "New", static_cast<ParamType>(-1), &s, 0, 3, true, false));
  EXPECT_EQ(bytes(), "[S]\r\nK=5\r\n");
}

TEST_F(WIniFileTest, WritesThatCannotBeDoneFailAndLeaveFilesAlone) {
  // No folder: nothing is created.
  const QString inMissingFolder = dir.filePath(QStringLiteral("Vendrel/Vendrel.ini"));
  EXPECT_FALSE(ini.WriteParam(inMissingFolder, "S", "K", ptInteger, nullptr, 0, 1, false, false));
  EXPECT_FALSE(QDir(dir.filePath(QStringLiteral("Vendrel"))).exists());

  // A read-only file keeps its bytes, and still reads.
  put("; mine\r\n[S]\r\nK=5\r\n", "ro.ini");
  QFile::setPermissions(path("ro.ini"), QFile::ReadOwner);
  EXPECT_FALSE(ini.WriteParam(path("ro.ini"), "S", "K", ptInteger, nullptr, 0, 9, false, false));
  EXPECT_EQ(bytes("ro.ini"), "; mine\r\n[S]\r\nK=5\r\n");
  int value = 0;
  EXPECT_TRUE(readInt(path("ro.ini"), "S", "K", value));
  EXPECT_EQ(value, 5);

  // A folder where the file should be.
  ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder.ini")));
  EXPECT_FALSE(readInt(path("folder.ini"), "S", "K", value));
  EXPECT_FALSE(
      ini.WriteParam(path("folder.ini"), "S", "K", ptInteger, nullptr, 0, 1, false, false));

  // A line break in a value would write a line nobody asked for.
  const QByteArray injected("1\r\n[Evil]\r\nK=2");
  EXPECT_FALSE(ini.WriteParam(path(), "S", "K", ptString, &injected, 0, 0, false, false));
}

TEST_F(WIniFileTest, ReplacingKeepsThePermissions) {
  put("[S]\r\nK=5\r\n");
  const auto perms = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
  QFile::setPermissions(path(), perms);
  EXPECT_TRUE(ini.WriteParam(path(), "S", "K", ptInteger, nullptr, 0, 6, false, false));
  EXPECT_EQ(QFile::permissions(path()) & 0x7077, perms) << "owner, group and others as they were";
  EXPECT_EQ(bytes(), "[S]\r\nK=6\r\n");
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("Vendrel.ini")})
      << "no temporary file left behind";
}

struct SeenBox {
  bool shown = false;
  QString text, caption;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  Qt::WindowModality modality = Qt::NonModal;
  int buttons = 0;
};

TEST_F(WIniFileTest, WarningBoxOnlyWhenAsked) {
  const QString bad = dir.filePath(QStringLiteral("missing/x.ini"));
  SeenBox seen;
  QTimer::singleShot(0, [&seen] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      seen = {true,        box->text(),           box->windowTitle(),
              box->icon(), box->windowModality(), static_cast<int>(box->buttons().size())};
      box->done(QMessageBox::Ok);
    }
  });
  EXPECT_FALSE(ini.WriteParam(bad, "MainForm", "Left", ptInteger, nullptr, 0, 1, false, true));
  ASSERT_TRUE(seen.shown);
  EXPECT_EQ(seen.text,
            QStringLiteral("Ошибка при записи параметра: Left\nСекции: MainForm\nФайла: ") + bad);
  EXPECT_EQ(seen.caption, QStringLiteral("Класс: WIniFile"));
  EXPECT_EQ(seen.icon, QMessageBox::Warning);
  EXPECT_EQ(seen.modality, Qt::ApplicationModal);
  EXPECT_EQ(seen.buttons, 1);

  seen = {};
  ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("d.ini")));
  const QString folder = path("d.ini");  // exists, cannot be read as a file
  QTimer::singleShot(0, [&seen] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      seen.shown = true;
      seen.text = box->text();
      box->done(QMessageBox::Ok);
    }
  });
  EXPECT_FALSE(
      ini.WriteParam(folder, "TrackBar", "Position", ptInteger, nullptr, 0, 1, false, true));
  EXPECT_TRUE(seen.text.startsWith(
      QStringLiteral("Ошибка при записи параметра: Position\nСекции: TrackBar")));

  // Without ShowErrors nothing is shown: a box would block here until the timer closed it.
  seen = {};
  QTimer::singleShot(0, [&seen] { seen.shown = QApplication::activeModalWidget() != nullptr; });
  EXPECT_FALSE(ini.WriteParam(bad, "S", "K", ptInteger, nullptr, 0, 1, false, false));
  QApplication::processEvents();
  EXPECT_FALSE(seen.shown);
}

}  // namespace
