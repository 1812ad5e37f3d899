#include "platform/system/IniFile.h"

#include "platform/system/Ascii.h"
#include "platform/system/SafeWrite.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <limits>

namespace {

QByteArray content(const QByteArray& line) {
  qsizetype n = line.size();
  if (n > 0 && line[n - 1] == '\n') --n;
  if (n > 0 && line[n - 1] == '\r') --n;
  return line.left(n);
}

bool endsLine(const QByteArray& line) {
  return line.endsWith('\n');
}

char lowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(const QByteArray& a, const QByteArray& b) {
  return sameIgnoringAsciiCase(a, b);
}

std::optional<QByteArray> sectionName(const QByteArray& trimmed) {
  if (!trimmed.startsWith('[')) return std::nullopt;
  const qsizetype close = trimmed.indexOf(']');
  return trimmed.mid(1, close < 0 ? -1 : close - 1).trimmed();
}

// "key=value" → key (trimmed), or nothing for comments and other lines.
std::optional<QByteArray> keyName(const QByteArray& trimmed) {
  if (trimmed.startsWith(';')) return std::nullopt;
  const qsizetype eq = trimmed.indexOf('=');
  if (eq <= 0) return std::nullopt;
  QByteArray key = trimmed.left(eq).trimmed();
  if (key.isEmpty()) return std::nullopt;
  return key;
}

char userDecimalPoint() {
  const QString point = QLocale::system().decimalPoint();
  return point.size() == 1 && point[0].unicode() < 128 ? static_cast<char>(point[0].unicode())
                                                       : '.';
}

}  // namespace

std::optional<int> parseIniInteger(const QByteArray& text) {
  QByteArray t = text.trimmed();
  bool negative = false;
  if (t.startsWith('-') || t.startsWith('+')) {
    negative = t.startsWith('-');
    t.remove(0, 1);
  }
  int base = 10;
  if (t.startsWith("0x") || t.startsWith("0X")) {
    base = 16;
    t.remove(0, 2);
  } else if (t.startsWith('$')) {
    base = 16;
    t.remove(0, 1);
  }
  if (t.isEmpty()) return std::nullopt;
  long long value = 0;
  for (char c : t) {
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (base == 16 && lowerAscii(c) >= 'a' && lowerAscii(c) <= 'f')
      digit = lowerAscii(c) - 'a' + 10;
    else
      return std::nullopt;
    value = value * base + digit;
    if (value > 1LL + std::numeric_limits<int>::max()) return std::nullopt;
  }
  if (negative) value = -value;
  if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
    return std::nullopt;
  return static_cast<int>(value);
}

std::optional<double> parseIniFloat(const QByteArray& text, char decimalPoint) {
  QByteArray t = text.trimmed();
  if (decimalPoint != '.') {
    if (t.contains('.')) return std::nullopt;
    t.replace(decimalPoint, '.');
  }
  bool ok = false;
  const double value = t.toDouble(&ok);  // C locale: '.' only
  if (!ok) return std::nullopt;
  return value;
}

QByteArray formatIniFloat(double value, char decimalPoint) {
  QByteArray text = QByteArray::number(value, 'g', 17);
  if (decimalPoint != '.') text.replace('.', decimalPoint);
  return text;
}

IniFile::IniFile(const QString& fileName) : IniFile(fileName, systemFileCalls()) {}

IniFile::IniFile(const QString& fileName, FileCalls& calls) : fileName_(fileName), calls_(calls) {
  QFile file(fileName);
  if (!file.exists()) return;
  if (!file.open(QIODevice::ReadOnly)) {
    unreadable_ = true;  // reads as empty; a write must not replace what it could not read
    return;
  }
  const QByteArray bytes = file.readAll();
  if (file.error() != QFileDevice::NoError) {
    unreadable_ = true;
    return;
  }
  qsizetype start = 0;
  while (start < bytes.size()) {
    const qsizetype nl = bytes.indexOf('\n', start);
    const qsizetype end = nl < 0 ? bytes.size() : nl + 1;
    lines_.append(bytes.mid(start, end - start));
    start = end;
  }
}

IniFile::Found IniFile::find(const QByteArray& section, const QByteArray& key) const {
  Found f;
  for (qsizetype i = 0; i < lines_.size(); ++i) {
    const QByteArray t = content(lines_[i]).trimmed();
    if (auto name = sectionName(t)) {
      if (f.section >= 0) {  // the first section of that name is the one that counts
        f.end = i;
        return f;
      }
      if (sameName(*name, section)) f.section = i;
      continue;
    }
    if (f.section < 0) continue;
    if (auto k = keyName(t)) {
      ++f.keys;
      if (f.key < 0 && sameName(*k, key)) f.key = i;
    }
  }
  if (f.section >= 0) f.end = lines_.size();
  return f;
}

std::optional<QByteArray> IniFile::value(const QByteArray& section, const QByteArray& key) const {
  const Found f = find(section, key);
  if (f.key < 0) return std::nullopt;
  const QByteArray t = content(lines_[f.key]).trimmed();
  return t.mid(t.indexOf('=') + 1).trimmed();
}

bool IniFile::sectionExists(const QByteArray& section) const {
  return find(section, QByteArray()).keys > 0;
}

bool IniFile::valueExists(const QByteArray& section, const QByteArray& key) const {
  return value(section, key).has_value();
}

QByteArray IniFile::readString(const QByteArray& section, const QByteArray& key,
                               const QByteArray& fallback) const {
  return value(section, key).value_or(fallback);
}

int IniFile::readInteger(const QByteArray& section, const QByteArray& key, int fallback) const {
  const auto text = value(section, key);
  if (!text) return fallback;
  return parseIniInteger(*text).value_or(fallback);
}

bool IniFile::readBool(const QByteArray& section, const QByteArray& key, bool fallback) const {
  const auto text = value(section, key);
  if (!text) return fallback;
  const auto number = parseIniInteger(*text);
  return number ? *number != 0 : fallback;
}

double IniFile::readFloat(const QByteArray& section, const QByteArray& key, double fallback) const {
  const auto text = value(section, key);
  if (!text) return fallback;
  return parseIniFloat(*text, userDecimalPoint()).value_or(fallback);
}

void IniFile::writeString(const QByteArray& section, const QByteArray& key,
                          const QByteArray& value) {
  // A line break or a delimiter in a name or value would write lines nobody asked for.
  const auto breaks = [](const QByteArray& t) { return t.contains('\n') || t.contains('\r'); };
  if (breaks(section) || section.contains(']') || breaks(key) || key.contains('=') ||
      key.trimmed().isEmpty() || key.trimmed() != key || breaks(value))
    throw IniError("the name or value cannot be stored in an INI line");
  QList<QByteArray> before;
  if (!holding_) before = lines_;
  const Found f = find(section, key);
  auto terminate = [this](qsizetype i) {
    if (i >= 0 && i < lines_.size() && !endsLine(lines_[i])) lines_[i].append("\r\n");
  };
  if (f.key >= 0) {
    const QByteArray t = content(lines_[f.key]).trimmed();
    lines_[f.key] = t.left(t.indexOf('=')).trimmed() + '=' + value + "\r\n";
  } else if (f.section >= 0) {
    qsizetype at = f.end;  // after the section's last line that is not blank
    while (at > f.section + 1 && content(lines_[at - 1]).trimmed().isEmpty()) --at;
    terminate(at - 1);
    lines_.insert(at, key + '=' + value + "\r\n");
  } else {
    terminate(lines_.size() - 1);
    lines_.append('[' + section + "]\r\n");
    lines_.append(key + '=' + value + "\r\n");
  }
  saveOrRestore(std::move(before));
}

void IniFile::removeKey(const QByteArray& section, const QByteArray& key) {
  const Found f = find(section, key);
  if (f.key < 0) return;
  QList<QByteArray> before;
  if (!holding_) before = lines_;
  lines_.removeAt(f.key);
  saveOrRestore(std::move(before));
}

void IniFile::saveOrRestore(QList<QByteArray> before) {
  if (holding_) return;
  try {
    save();
  } catch (...) {
    lines_ = std::move(before);
    throw;
  }
}

void IniFile::commit() {
  holding_ = false;
  save();
}

void IniFile::writeInteger(const QByteArray& section, const QByteArray& key, int value) {
  writeString(section, key, QByteArray::number(value));
}

void IniFile::writeBool(const QByteArray& section, const QByteArray& key, bool value) {
  writeString(section, key, value ? "1" : "0");
}

void IniFile::writeFloat(const QByteArray& section, const QByteArray& key, double value) {
  writeString(section, key, formatIniFloat(value, userDecimalPoint()));
}

void IniFile::save() const {
  if (unreadable_) throw IniError("the file exists but cannot be read");
  const QFileInfo info(fileName_);
  // A file with no write bit is read-only for everyone, the superuser included.
  constexpr auto anyWrite = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
  if (info.exists() && (!info.isFile() || !info.isWritable() || !(info.permissions() & anyWrite)))
    throw IniError("the file cannot be written");
  // A crash, a full disk or a size limit leaves either the old file or the new one, never half
  // of one, nor an empty one.
  try {
    replaceFile(fileName_, lines_.join(), calls_);
  } catch (const WriteError& e) {
    throw IniError(e.what());
  }
}
