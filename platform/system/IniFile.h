#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>
#include <stdexcept>

class FileCalls;

// A failed write of an INI file; the file on disk is left as it was.
class IniError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An INI file as bytes: "[section]" lines, "key=value" lines, ";" comments; section and key
// names match ignoring ASCII case. Writes change only the line they write (or add one) and keep
// every other line byte for byte; each write replaces the file as a whole, atomically, unless
// writes are held for one replacement.
class IniFile {
 public:
  // Reads the file; a missing or unreadable file reads as empty. `calls` replace it.
  explicit IniFile(const QString& fileName);
  IniFile(const QString& fileName, FileCalls& calls);

  // A section exists when it holds at least one key.
  bool sectionExists(const QByteArray& section) const;
  bool valueExists(const QByteArray& section, const QByteArray& key) const;

  QByteArray readString(const QByteArray& section, const QByteArray& key,
                        const QByteArray& fallback) const;
  // Decimal with an optional sign, or hexadecimal after "0x", "0X" or "$"; anything else, or a
  // value outside 32 bits, gives `fallback`.
  int readInteger(const QByteArray& section, const QByteArray& key, int fallback) const;
  // An integer other than 0.
  bool readBool(const QByteArray& section, const QByteArray& key, bool fallback) const;
  // A decimal number written with the user's decimal separator (the locale's, LC_NUMERIC).
  double readFloat(const QByteArray& section, const QByteArray& key, double fallback) const;

  // Each write throws IniError when the file cannot be replaced.
  void writeString(const QByteArray& section, const QByteArray& key, const QByteArray& value);
  void writeInteger(const QByteArray& section, const QByteArray& key, int value);
  void writeBool(const QByteArray& section, const QByteArray& key, bool value);
  void writeFloat(const QByteArray& section, const QByteArray& key, double value);
  // Removes the key's line, where there is one; throws IniError as a write does.
  void removeKey(const QByteArray& section, const QByteArray& key);

  // From here on writes change the lines held in memory only, and commit() replaces the file
  // once with all of them: exactly the bytes the same writes one by one would have left, but
  // never some of them without the others, and one rewrite of a large file instead of many.
  void holdWrites() { holding_ = true; }
  // Replaces the file with the writes held, and stops holding them; throws IniError, and then
  // the file is as it was.
  void commit();

 private:
  struct Found {
    qsizetype section = -1;  // index of the section's header line
    qsizetype end = -1;      // one past its last line
    qsizetype key = -1;      // index of the key's line
    int keys = 0;            // keys in the section
  };
  Found find(const QByteArray& section, const QByteArray& key) const;
  std::optional<QByteArray> value(const QByteArray& section, const QByteArray& key) const;
  void save() const;
  // Saves the lines, unless writes are held; a save that fails puts `before` back.
  void saveOrRestore(QList<QByteArray> before);

  QString fileName_;
  FileCalls& calls_;
  QList<QByteArray> lines_;  // each with its own line end, as read
  bool unreadable_ = false;
  bool holding_ = false;
};

// Integer and float texts as the INI file stores them.
std::optional<int> parseIniInteger(const QByteArray& text);
std::optional<double> parseIniFloat(const QByteArray& text, char decimalPoint);
QByteArray formatIniFloat(double value, char decimalPoint);
