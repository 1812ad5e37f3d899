#pragma once

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <string>

// One category per subsystem: QT_LOGGING_RULES="vendrel.*=true" shows them all.
Q_DECLARE_LOGGING_CATEGORY(lcApp)       // vendrel.app: the tick, start-up and ending
Q_DECLARE_LOGGING_CATEGORY(lcSettings)  // vendrel.settings: the settings file
Q_DECLARE_LOGGING_CATEGORY(lcX11)       // vendrel.x11: the X server
Q_DECLARE_LOGGING_CATEGORY(lcPortal)    // vendrel.portal: the desktop portal and PipeWire
Q_DECLARE_LOGGING_CATEGORY(lcAccess)    // vendrel.access: the accessibility bus

// Lets a warning that may repeat many times a second through at most once per interval, and
// says how many were held back since the last one let through:
//
//   static WarningGate gate;
//   if (gate.pass()) qCWarning(lcX11) << what << gate.note();
class WarningGate {
 public:
  explicit WarningGate(qint64 intervalMs = 10'000) : intervalMs_(intervalMs) {}
  // True for the first call, and then for the first call after each interval.
  bool pass() {
    if (shown_.isValid() && shown_.elapsed() < intervalMs_) {
      ++held_;
      return false;
    }
    shown_.start();
    reported_ = held_;
    held_ = 0;
    return true;
  }
  // How many calls were held back before the one that last passed.
  qint64 heldBack() const { return reported_; }
  // What to add to the warning let through: how many were held back before it, if any.
  const char* note() const {
    note_ = reported_ ? "(" + std::to_string(reported_) + " more held back)" : std::string();
    return note_.c_str();
  }

 private:
  qint64 intervalMs_;
  QElapsedTimer shown_;
  qint64 held_ = 0;
  qint64 reported_ = 0;
  mutable std::string note_;
};
