#pragma once

#include <QString>

class SystemInfo;

// System messages and facts for the About dialog.
class WMessage {
 public:
  explicit WMessage(SystemInfo& system);

  QString Description;

  // The computer's name, read into a 64-byte buffer. A name that does not fit is shown cut,
  // with "…" after it; when there is no name to be had, "неизвестно".
  QString ComputerName();

 private:
  SystemInfo& system_;
};
