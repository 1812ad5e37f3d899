#pragma once

#include <cstdint>

// Facts about the machine.
class SystemInfo {
 public:
  virtual ~SystemInfo() = default;
  // The computer's name into `buffer` of `size` bytes. On success `size` becomes the name's
  // length and the name is terminated. When it does not fit, returns false with `size` set to
  // the bytes it needs and as much of the name as fits, terminated; when it cannot be had,
  // returns false with `size` 0.
  virtual bool computerName(char* buffer, std::uint32_t& size) = 0;
};

// Puts `name` into `buffer` by the rules of SystemInfo::computerName.
bool copyComputerName(const char* name, std::uint32_t length, char* buffer, std::uint32_t& size);

// The host name the kernel reports.
class HostSystemInfo final : public SystemInfo {
 public:
  bool computerName(char* buffer, std::uint32_t& size) override;
};
