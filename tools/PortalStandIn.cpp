#include "tools/PortalStandIn.h"

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <stdexcept>

PortalStandIn::PortalStandIn(const QString& fakePortal, const QString& monitors,
                             const QStringList& fakeOptions) {
  if (!files_.isValid()) throw std::runtime_error("no temporary folder");
  const QString bus = files_.filePath(QStringLiteral("bus"));
  const QString runtime = files_.filePath(QStringLiteral("run"));
  QDir().mkpath(runtime);
  ::chmod(QFile::encodeName(runtime).constData(), 0700);  // as a session's runtime folder is
  environment_ = {QStringLiteral("DBUS_SESSION_BUS_ADDRESS=unix:path=") + bus,
                  QStringLiteral("XDG_RUNTIME_DIR=") + runtime};
  dbus_ = std::make_unique<ChildProcess>(
      QStringLiteral("dbus-daemon"),
      QStringList{QStringLiteral("--session"), QStringLiteral("--address=unix:path=") + bus,
                  QStringLiteral("--nofork"), QStringLiteral("--nopidfile")},
      environment_, true);
  pipewire_ =
      std::make_unique<ChildProcess>(QStringLiteral("pipewire"), QStringList{}, environment_, true);
  const QString socket = runtime + QStringLiteral("/pipewire-0");
  waitUntil([&] { return QFile::exists(bus) && QFile::exists(socket); });
  if (!QFile::exists(bus)) throw std::runtime_error("dbus-daemon did not start");
  if (!QFile::exists(socket)) throw std::runtime_error("pipewire did not start");

  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const QString& e : environment_) env.insert(e.section('=', 0, 0), e.section('=', 1));
  fake_.setProcessEnvironment(env);
  fake_.start(fakePortal,
              QStringList{QStringLiteral("--log"), files_.filePath(QStringLiteral("calls")),
                          QStringLiteral("--monitors"), monitors} +
                  fakeOptions);
  if (!fake_.waitForStarted(Patience) || !awaitLine("ready"))
    throw std::runtime_error("the fake portal did not start: " +
                             fake_.readAllStandardError().toStdString());
}

PortalStandIn::~PortalStandIn() {
  if (fake_.state() != QProcess::NotRunning) {
    fake_.kill();
    fake_.waitForFinished(3000);
  }
  pipewire_.reset();
  dbus_.reset();
}

QStringList PortalStandIn::environment() const {
  return QStringList{QStringLiteral("WAYLAND_DISPLAY=wayland-vendrel-stand-in"),
                     QStringLiteral("XDG_SESSION_TYPE=wayland")} +
         environment_;
}

bool PortalStandIn::tell(const QByteArray& command) {
  fake_.write(command + '\n');
  fake_.waitForBytesWritten(Patience);
  return awaitLine("done");
}

bool PortalStandIn::awaitLine(const QByteArray& line) {
  return waitUntil([&] {
    while (fake_.canReadLine())
      if (fake_.readLine().trimmed() == line) return true;
    fake_.waitForReadyRead(100);
    return false;
  });
}

QStringList PortalStandIn::calls() const {
  QFile f(files_.filePath(QStringLiteral("calls")));
  return f.open(QIODevice::ReadOnly)
             ? QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)
             : QStringList();
}

int PortalStandIn::count(const QString& call) const {
  int n = 0;
  for (const QString& c : calls()) n += c.startsWith(call);
  return n;
}
