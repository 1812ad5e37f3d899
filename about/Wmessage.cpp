#include "about/Wmessage.h"

#include "platform/system/SystemInfo.h"

WMessage::WMessage(SystemInfo& system)
    : Description(QStringLiteral("WMessage: Класс для работы с системными сообщениями")),
      system_(system) {}

QString WMessage::ComputerName() {
  char buffer[64] = {};
  std::uint32_t size = sizeof buffer;
  if (system_.computerName(buffer, size)) return QString::fromUtf8(buffer, static_cast<int>(size));
  // Only what the query says it wrote is read, never past the buffer.
  if (size > sizeof buffer && buffer[0] != '\0')
    return QString::fromUtf8(buffer, static_cast<int>(qstrnlen(buffer, sizeof buffer - 1))) +
           QStringLiteral("…");
  return QStringLiteral("неизвестно");
}
