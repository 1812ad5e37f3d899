#include "settings/Winifile.h"

#include "platform/forms/MessageBox.h"
#include "platform/system/IniFile.h"
#include "platform/system/Log.h"

#include <optional>

WIniFile::WIniFile() : Description(QStringLiteral("Класс: WIniFile")) {}

WIniFile::~WIniFile() = default;

void WIniFile::BeginUpdate(const QString& FileName) {
  UpdateName = FileName;
  Update = std::make_unique<IniFile>(FileName);
  Update->holdWrites();
}

bool WIniFile::EndUpdate(bool ShowErrors) {
  const std::unique_ptr<IniFile> ini = std::move(Update);
  if (!ini) return false;
  try {
    ini->commit();
    return true;
  } catch (const std::exception& e) {
    static WarningGate gate;
    if (gate.pass())
      qCWarning(lcSettings) << "cannot save" << UpdateName << ":" << e.what() << gate.note();
    if (ShowErrors)
      warningBox(QStringLiteral("Ошибка при записи файла: ") + UpdateName, Description);
    return false;
  }
}

bool WIniFile::ReadParam(const QString& FileName, const QString& Section, const QString& Key,
                         ParamType Type, QByteArray* S, double* F, int* I, bool* B,
                         bool ShowErrors) {
  try {
    const IniFile ini(FileName);
    const QByteArray section = Section.toUtf8(), key = Key.toUtf8();
    if (!ini.sectionExists(section) || !ini.valueExists(section, key)) return false;
    switch (Type) {
      case ptString:
        *S = ini.readString(section, key, *S);
        break;
      case ptFloat:
        *F = ini.readFloat(section, key, *F);
        break;
      case ptInteger:
        *I = ini.readInteger(section, key, *I);
        break;
      case ptBool:
        *B = ini.readBool(section, key, *B);
        break;
      default:
        break;  // an unknown kind touches no holder
    }
    return true;
  } catch (...) {  // the caller only wants to know whether it worked
    Fail(QStringLiteral("Ошибка при чтении параметра: "), FileName, Section, Key, ShowErrors);
    return false;
  }
}

bool WIniFile::WriteParam(const QString& FileName, const QString& Section, const QString& Key,
                          ParamType Type, const QByteArray* S, double F, int I, bool B,
                          bool ShowErrors) {
  try {
    std::optional<IniFile> own;
    IniFile& ini = Update && FileName == UpdateName ? *Update : own.emplace(FileName);
    const QByteArray section = Section.toUtf8(), key = Key.toUtf8();
    switch (Type) {
      case ptString:
        ini.writeString(section, key, *S);
        break;
      case ptFloat:
        ini.writeFloat(section, key, F);
        break;
      case ptInteger:
        ini.writeInteger(section, key, I);
        break;
      case ptBool:
        ini.writeBool(section, key, B);
        break;
      default:
        break;  // an unknown kind stores nothing
    }
    return true;
  } catch (...) {  // the caller only wants to know whether it worked
    Fail(QStringLiteral("Ошибка при записи параметра: "), FileName, Section, Key, ShowErrors);
    return false;
  }
}

void WIniFile::Fail(const QString& what, const QString& FileName, const QString& Section,
                    const QString& Key, bool ShowErrors) const {
  if (!ShowErrors) return;
  warningBox(
      what + Key + QStringLiteral("\nСекции: ") + Section + QStringLiteral("\nФайла: ") + FileName,
      Description);
}
