#pragma once

#include <QString>

class QWidget;

// Opens an address (web or "mailto:") with the user's default program.
class Shell {
 public:
  virtual ~Shell() = default;
  // Fire and forget: whether it worked is not reported, and a failure shows nothing.
  virtual void open(QWidget* owner, const QString& target) = 0;
};

// The desktop's own opener (xdg-open), started detached.
class XdgShell final : public Shell {
 public:
  void open(QWidget* owner, const QString& target) override;
};
