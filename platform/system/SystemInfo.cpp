#include "platform/system/SystemInfo.h"

#include <unistd.h>

#include <climits>
#include <cstring>

bool copyComputerName(const char* name, std::uint32_t length, char* buffer, std::uint32_t& size) {
  if (size == 0) return false;
  const bool fits = length + 1 <= size;
  const std::uint32_t copied = fits ? length : size - 1;
  std::memcpy(buffer, name, copied);
  buffer[copied] = '\0';
  size = fits ? length : length + 1;
  return fits;
}

bool HostSystemInfo::computerName(char* buffer, std::uint32_t& size) {
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof name) != 0) {
    size = 0;
    return false;
  }
  return copyComputerName(name, static_cast<std::uint32_t>(std::strlen(name)), buffer, size);
}
