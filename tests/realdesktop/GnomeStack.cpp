#include "tests/realdesktop/GnomeStack.h"

#include <signal.h>
#include <unistd.h>

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <chrono>

namespace {

const QString Mutter = QStringLiteral("org.gnome.Mutter");
const QString RemoteDesktop = QStringLiteral("org.gnome.Mutter.RemoteDesktop");
const QString ScreenCast = QStringLiteral("org.gnome.Mutter.ScreenCast");

QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

GnomeStack::GnomeStack(const QString& script) {
  for (const char* program :
       {"mutter", "Xwayland", "pipewire", "wireplumber", "dbus-daemon", "dbus-monitor", "unshare"})
    if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty())
      throw Unavailable(std::string("no ") + program + " here");
  for (const char* program :
       {"/usr/libexec/xdg-desktop-portal", "/usr/libexec/xdg-desktop-portal-gnome"})
    if (!QFile::exists(QString::fromLatin1(program)))
      throw Unavailable(std::string("no ") + program + " here");
  if (!folder_.isValid()) throw std::runtime_error("no temporary folder");

  name_ = QStringLiteral("wayland-vendrel-%1").arg(::getpid());
  // Unprivileged, the mount namespace comes with a user namespace of its own.
  QStringList unshare{QStringLiteral("-m")};
  if (::geteuid() != 0) unshare.prepend(QStringLiteral("-r"));
  stack_ = std::make_unique<ChildProcess>(
      QStringLiteral("unshare"),
      unshare + QStringList{script, folder_.path(), name_, QString::number(::getpid())},
      QStringList{}, true);

  const QString run = folder_.filePath(QStringLiteral("run"));
  const QString mutterLog = folder_.filePath(QStringLiteral("log/mutter"));
  // Mutter says which X display its Xwayland took; the key to it is in the runtime folder.
  const QRegularExpression publicDisplay(QStringLiteral("Using public X11 display (:\\d+)"));
  const bool up = waitFor(
      [&] {
        if (!stack_->running()) return true;
        if (display_.isEmpty()) {
          const auto m = publicDisplay.match(QString::fromUtf8(readAll(mutterLog)));
          if (m.hasMatch()) display_ = m.captured(1);
        }
        const QStringList keys = QDir(run).entryList({QStringLiteral(".mutter-Xwaylandauth.*")},
                                                     QDir::Files | QDir::Hidden);
        if (!keys.isEmpty()) xauthority_ = run + QLatin1Char('/') + keys.front();
        return !display_.isEmpty() && !xauthority_.isEmpty() &&
               QFile::exists(folder_.filePath(QStringLiteral("ready")));
      },
      60000);
  if (!stack_->running()) {
    const auto status = stack_->wait(0);
    if (status == 3) throw Unavailable("no private mount namespace here (unshare -m)");
    throw std::runtime_error("the GNOME stack ended at once:\n" + logs().toStdString());
  }
  if (!up) throw std::runtime_error("the GNOME stack did not come up:\n" + logs().toStdString());

  bus_ = QDBusConnection::connectToBus(
      QStringLiteral("unix:path=") + run + QStringLiteral("/bus"),
      QStringLiteral("gnome-stack-%1").arg(reinterpret_cast<quintptr>(this)));
  if (!bus_->isConnected()) throw std::runtime_error("cannot reach the stack's session bus");
  // The portal is ready when its ScreenCast answers.
  const bool portal = waitFor(
      [&] {
        QDBusMessage get = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.portal.Desktop"),
            QStringLiteral("/org/freedesktop/portal/desktop"),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        get << QStringLiteral("org.freedesktop.portal.ScreenCast")
            << QStringLiteral("AvailableCursorModes");
        return bus_->call(get, QDBus::Block, 2000).type() == QDBusMessage::ReplyMessage;
      },
      60000);
  if (!portal) throw std::runtime_error("the portal did not answer:\n" + logs().toStdString());

  // Every screen-cast session a program asks for, as the bus carries it.
  monitor_ = std::make_unique<ChildProcess>(
      QStringLiteral("sh"),
      QStringList{QStringLiteral("-c"),
                  QStringLiteral("exec dbus-monitor --address \"$0\" "
                                 "\"type='method_call',interface='org.freedesktop.portal."
                                 "ScreenCast',member='CreateSession'\" >\"$1\""),
                  QStringLiteral("unix:path=") + run + QStringLiteral("/bus"),
                  folder_.filePath(QStringLiteral("log/sessions"))},
      QStringList{}, true);
  waitFor(
      [&] {
        return readAll(folder_.filePath(QStringLiteral("log/sessions"))).contains("NameAcquired");
      },
      10000);
}

GnomeStack::~GnomeStack() {
  monitor_.reset();
  if (bus_) QDBusConnection::disconnectFromBus(bus_->name());
  stack_.reset();  // the script ends the stack's every process on SIGTERM
}

bool GnomeStack::waitFor(const std::function<bool()>& condition, int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  do {
    if (condition()) return true;
    sleepMs(50);
  } while (std::chrono::steady_clock::now() < end);
  return condition();
}

QStringList GnomeStack::environment() const {
  const QString run = folder_.filePath(QStringLiteral("run"));
  return {QStringLiteral("DBUS_SESSION_BUS_ADDRESS=unix:path=") + run + QStringLiteral("/bus"),
          QStringLiteral("XDG_RUNTIME_DIR=") + run, QStringLiteral("WAYLAND_DISPLAY=") + name_,
          QStringLiteral("XDG_SESSION_TYPE=wayland"), QStringLiteral("XDG_CURRENT_DESKTOP=GNOME"),
          QStringLiteral("XAUTHORITY=") + xauthority_,
          // The accessibility bus is the one this session bus gives, never the caller's.
          QStringLiteral("AT_SPI_BUS_ADDRESS")};
}

bool GnomeStack::movePointer(QPoint to) {
  const auto call = [this](const QString& service, const QString& path, const QString& interface,
                           const QString& method, const QList<QVariant>& arguments) {
    QDBusMessage m = QDBusMessage::createMethodCall(service, path, interface, method);
    m.setArguments(arguments);
    return bus_->call(m, QDBus::Block, 10000);
  };
  if (castStream_.isEmpty()) {
    // A remote-desktop session drives the pointer in the coordinates of a screen-cast stream
    // linked to it: one over the whole monitor. Nothing consumes the stream; it need not run.
    QDBusMessage r = call(Mutter + QStringLiteral(".RemoteDesktop"),
                          QStringLiteral("/org/gnome/Mutter/RemoteDesktop"), RemoteDesktop,
                          QStringLiteral("CreateSession"), {});
    if (r.type() != QDBusMessage::ReplyMessage) return false;
    remoteSession_ = r.arguments().value(0).value<QDBusObjectPath>().path();
    r = call(Mutter + QStringLiteral(".RemoteDesktop"), remoteSession_,
             QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
             {RemoteDesktop + QStringLiteral(".Session"), QStringLiteral("SessionId")});
    if (r.type() != QDBusMessage::ReplyMessage) return false;
    const QString id = r.arguments().value(0).value<QDBusVariant>().variant().toString();
    r = call(Mutter + QStringLiteral(".ScreenCast"), QStringLiteral("/org/gnome/Mutter/ScreenCast"),
             ScreenCast, QStringLiteral("CreateSession"),
             {QVariantMap{{QStringLiteral("remote-desktop-session-id"), id}}});
    if (r.type() != QDBusMessage::ReplyMessage) return false;
    const QString castSession = r.arguments().value(0).value<QDBusObjectPath>().path();
    r = call(Mutter + QStringLiteral(".ScreenCast"), castSession,
             ScreenCast + QStringLiteral(".Session"), QStringLiteral("RecordMonitor"),
             {QStringLiteral("Meta-0"), QVariantMap{}});
    if (r.type() != QDBusMessage::ReplyMessage) return false;
    castStream_ = r.arguments().value(0).value<QDBusObjectPath>().path();
    r = call(Mutter + QStringLiteral(".RemoteDesktop"), remoteSession_,
             RemoteDesktop + QStringLiteral(".Session"), QStringLiteral("Start"), {});
    if (r.type() != QDBusMessage::ReplyMessage) {
      castStream_.clear();
      return false;
    }
  }
  const QDBusMessage r = call(
      Mutter + QStringLiteral(".RemoteDesktop"), remoteSession_,
      RemoteDesktop + QStringLiteral(".Session"), QStringLiteral("NotifyPointerMotionAbsolute"),
      {castStream_, static_cast<double>(to.x()), static_cast<double>(to.y())});
  return r.type() == QDBusMessage::ReplyMessage;
}

bool GnomeStack::answerChooser(const QString& answer, int seconds) {
  const int failed = backendCallsFailed();
  ChildProcess chooser(QStringLiteral(VENDREL_CHOOSER), {answer, QString::number(seconds)},
                       environment());
  std::optional<int> status;
  waitFor([&] { return (status = chooser.wait(0)) || backendCallsFailed() > failed; },
          (seconds + 30) * 1000);
  return status && *status == 0;
}

int GnomeStack::backendCallsFailed() const {
  // The portal the script starts may lose the bus name to one the bus starts on the first call,
  // whose words go to the bus's log.
  qsizetype failed = 0;
  for (const char* log : {"log/portal", "log/dbus"})
    failed += readAll(folder_.filePath(QLatin1String(log))).count("A backend call failed");
  return static_cast<int>(failed);
}

int GnomeStack::sessionsAsked() const {
  return static_cast<int>(
      readAll(folder_.filePath(QStringLiteral("log/sessions"))).count("member=CreateSession"));
}

std::optional<int> GnomeStack::pidOf(const QByteArray& program) const {
  // Known by its program and the mark every process of this stack carries.
  const QByteArray runtime = "VENDREL_GNOME_STACK=" + QFile::encodeName(folder_.path());
  for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
    bool number = false;
    const int pid = entry.toInt(&number);
    if (!number) continue;
    const QByteArray command = readAll(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (command.split('\0').value(0) != "/usr/libexec/" + program) continue;
    const QList<QByteArray> env = readAll(QStringLiteral("/proc/%1/environ").arg(pid)).split('\0');
    if (env.contains(runtime)) return pid;
  }
  return std::nullopt;
}

bool GnomeStack::endPortal(const QByteArray& program) {
  const auto pid = pidOf(program);
  if (!pid || ::kill(*pid, SIGTERM) != 0) return false;
  return waitFor([&] { return pidOf(program) != pid; }, 10000);
}

QString GnomeStack::logs() const {
  QString out;
  for (const QString& name : QDir(folder_.filePath(QStringLiteral("log"))).entryList(QDir::Files)) {
    const QByteArray text = readAll(folder_.filePath(QStringLiteral("log/") + name));
    out += QStringLiteral("---- %1\n%2\n").arg(name, QString::fromUtf8(text.right(3000)));
  }
  return out;
}
