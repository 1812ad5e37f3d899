#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

// The signals that ask a program to end (SIGTERM and SIGHUP from a logout or a shutdown, SIGINT
// from Ctrl+C in a terminal) become a call from the event loop, so that the program can close
// as the user would close it. One instance per process.
class QuitSignals {
 public:
  explicit QuitSignals(std::function<void()> quit);
  ~QuitSignals();  // the default dispositions come back
  QuitSignals(const QuitSignals&) = delete;
  QuitSignals& operator=(const QuitSignals&) = delete;

 private:
  std::function<void()> quit_;
  std::unique_ptr<QSocketNotifier> notifier_;
};
