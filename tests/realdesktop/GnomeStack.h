#pragma once

#include <QDBusConnection>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>

#include "tools/XSession.h"

// The real GNOME desktop of Debian 12 with nobody at it: mutter headless on one virtual
// 1280 x 800 monitor (with the Xwayland it starts), PipeWire, WirePlumber and the desktop portal
// with its GNOME backend, on a session bus, runtime folder and home of their own. Everything runs
// in a private PID namespace (gnome-stack.sh), so that ending that namespace ends it all.
class GnomeStack {
 public:
  // Thrown when this machine cannot run the stack at all (what is missing); the tests skip.
  struct Unavailable : std::runtime_error {
    using std::runtime_error::runtime_error;
  };

  static constexpr QSize Monitor{1280, 800};

  // Starts it all and waits until the portal's ScreenCast answers. Throws Unavailable, or
  // std::runtime_error when something does not come up.
  explicit GnomeStack(const QString& script);
  ~GnomeStack();

  // Where programs find this desktop: the bus, the runtime folder, the X display of Xwayland
  // with its key, and the marks of a GNOME Wayland session.
  QStringList environment() const;
  QString display() const { return display_; }

  // Moves the compositor's own pointer, as a mouse would (mutter's remote desktop API: XTest
  // into Xwayland moves only Xwayland's idea of it).
  bool movePointer(QPoint to);
  // Answers the portal's chooser as a user would ("share" or "cancel"); waits up to `seconds`
  // for it to come, and no longer once a call into the GNOME backend has failed.
  bool answerChooser(const QString& answer, int seconds = 60);
  // How many calls into the GNOME backend the portal has seen fail so far: the backend fell
  // over while it had one in hand.
  int backendCallsFailed() const;
  // How many screen-cast sessions programs have asked the portal for so far.
  int sessionsAsked() const;
  // Ends the portal ("xdg-desktop-portal") or its GNOME backend ("xdg-desktop-portal-gnome"), as
  // a crash would; the bus starts it again when asked. The compositor ends the backend's casts.
  bool endPortal(const QByteArray& program);
  QString logs() const;

 private:
  std::optional<int> pidOf(const QByteArray& program) const;
  bool waitFor(const std::function<bool()>& condition, int ms);

  QTemporaryDir folder_;
  QString name_;  // of the Wayland display, unique to this run
  QString display_;
  QString xauthority_;
  std::unique_ptr<ChildProcess> stack_;
  std::unique_ptr<ChildProcess> monitor_;  // dbus-monitor, counting the portal's sessions
  std::optional<QDBusConnection> bus_;
  QString remoteSession_, castStream_;
};
