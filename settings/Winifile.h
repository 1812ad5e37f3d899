#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>

class IniFile;

// The kind of value a call reads or writes, and so which value argument it uses.
enum ParamType : std::int32_t { ptString = 0, ptFloat = 1, ptInteger = 2, ptBool = 3 };

// Reads and writes one value of an INI file per call; every call opens and closes the file.
// Failures never escape: a call returns false, after a warning box when asked for one.
class WIniFile {
 public:
  WIniFile();
  ~WIniFile();

  QString Description;
  bool LastResult = false;
  // Spare holders, for the value kinds a call does not use.
  QByteArray StrValue;
  double FloatValue = 0;
  int IntValue = 0;
  bool BoolValue = false;

  // Reads Key of Section into the holder that Type names, which keeps its default (passed in)
  // when the value is missing or unparsable. False when the section or key is missing, or on
  // failure.
  bool ReadParam(const QString& FileName, const QString& Section, const QString& Key,
                 ParamType Type, QByteArray* S, double* F, int* I, bool* B, bool ShowErrors);
  // Stores the value that Type names, creating the file, section or key when missing.
  bool WriteParam(const QString& FileName, const QString& Section, const QString& Key,
                  ParamType Type, const QByteArray* S, double F, int I, bool B, bool ShowErrors);

  // Between the two, the writes to FileName go to memory, and EndUpdate replaces the file once
  // with all of them: a save killed half-way leaves the old file or the new one, whole. False
  // when the file cannot be replaced; then none of the writes reached it.
  void BeginUpdate(const QString& FileName);
  bool EndUpdate(bool ShowErrors);

 private:
  void Fail(const QString& what, const QString& FileName, const QString& Section,
            const QString& Key, bool ShowErrors) const;

  QString UpdateName;
  std::unique_ptr<IniFile> Update;  // the writes held between BeginUpdate and EndUpdate
};
