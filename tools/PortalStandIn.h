#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

#include "tools/XSession.h"

// A Wayland desktop's services as the magnifier meets them, standing in for the compositor: a
// session bus and a PipeWire daemon of its own, and the fake portal (vendrel-fake-portal) in
// front of them, whose frames show a picture in which every pixel's colour is its position.
class PortalStandIn {
 public:
  // `monitors` as the fake portal takes them ("1024x768+0+0,800x600+1024+0"); `fakeOptions`
  // go to it as they are. Throws std::runtime_error when something does not start.
  PortalStandIn(const QString& fakePortal, const QString& monitors,
                const QStringList& fakeOptions = {});
  ~PortalStandIn();

  // What a program needs in its environment to use these: the bus, the runtime folder, and the
  // marks of a Wayland session.
  QStringList environment() const;
  // Tells the fake portal something ("cursor X Y", "frame", "end") and waits till it is done.
  bool tell(const QByteArray& command);
  // What the fake portal was asked, a line each.
  QStringList calls() const;
  int count(const QString& call) const;

 private:
  bool awaitLine(const QByteArray& line);

  QTemporaryDir files_;
  QStringList environment_;
  std::unique_ptr<ChildProcess> dbus_, pipewire_;
  QProcess fake_;
};
