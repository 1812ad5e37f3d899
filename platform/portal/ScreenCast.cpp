#include "platform/portal/ScreenCast.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QPoint>
#include <QRegularExpression>

#include "platform/system/Log.h"

namespace portal {

namespace {

const QString Service = QStringLiteral("org.freedesktop.portal.Desktop");
const QString Path = QStringLiteral("/org/freedesktop/portal/desktop");
const QString Interface = QStringLiteral("org.freedesktop.portal.ScreenCast");
const QString RequestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString SessionInterface = QStringLiteral("org.freedesktop.portal.Session");

// A token for a request or session handle, unique in this program's lifetime.
QString newToken() {
  static int count = 0;
  return QStringLiteral("vendrel%1_%2").arg(::getpid()).arg(++count);
}

// Where the portal puts a request's object: its path is known before the call, so that the
// answer can be waited for before it can come.
QString requestPathFor(const QDBusConnection& bus, const QString& token) {
  QString sender = bus.baseService().mid(1);
  sender.replace(QLatin1Char('.'), QLatin1Char('_'));
  return Path + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;
}

// A (ii) pair of a stream's properties.
QPoint pairOf(const QVariant& v) {
  int x = 0, y = 0;
  if (v.canConvert<QDBusArgument>()) {
    const QDBusArgument arg = v.value<QDBusArgument>();
    arg.beginStructure();
    arg >> x >> y;
    arg.endStructure();
  }
  return {x, y};
}

std::vector<CastStream> streamsOf(const QVariant& v) {
  std::vector<CastStream> out;
  if (!v.canConvert<QDBusArgument>()) return out;
  const QDBusArgument arg = v.value<QDBusArgument>();
  arg.beginArray();
  while (!arg.atEnd()) {
    uint node = 0;
    QVariantMap properties;
    arg.beginStructure();
    arg >> node >> properties;
    arg.endStructure();
    const QPoint at = pairOf(properties.value(QStringLiteral("position")));
    const QPoint size = pairOf(properties.value(QStringLiteral("size")));
    out.push_back({node, {at.x(), at.y(), at.x() + size.x(), at.y() + size.y()}});
  }
  arg.endArray();
  return out;
}

}  // namespace

bool isRestoreToken(const QByteArray& token) {
  static const QRegularExpression uuid(QStringLiteral(
      "^[0-9a-fA-F]{8}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{12}$"));
  return token.size() == 36 && uuid.match(QString::fromLatin1(token)).hasMatch();
}

std::optional<std::uint32_t> availableCursorModes(const QDBusConnection& bus) {
  QDBusMessage get = QDBusMessage::createMethodCall(
      Service, Path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
  get << Interface << QStringLiteral("AvailableCursorModes");
  const QDBusMessage reply = bus.call(get, QDBus::Block, 5000);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
    return std::nullopt;
  return reply.arguments().front().value<QDBusVariant>().variant().toUInt();
}

ScreenCastSession::ScreenCastSession(QDBusConnection bus)
    : bus_(std::move(bus)), portal_(Service, bus_, QDBusServiceWatcher::WatchForOwnerChange) {
  connect(&portal_, &QDBusServiceWatcher::serviceOwnerChanged, this,
          &ScreenCastSession::onOwnerChanged);
}

ScreenCastSession::~ScreenCastSession() {
  if (!requestPath_.isEmpty())
    bus_.disconnect(Service, requestPath_, RequestInterface, QStringLiteral("Response"), this,
                    SLOT(onResponse(uint, QVariantMap)));
  if (!session_.isEmpty()) {
    bus_.disconnect(Service, session_, SessionInterface, QStringLiteral("Closed"), this,
                    SLOT(onClosed()));
    bus_.asyncCall(QDBusMessage::createMethodCall(Service, session_, SessionInterface,
                                                  QStringLiteral("Close")));
  }
}

void ScreenCastSession::start(const QByteArray& restoreToken) {
  restoreToken_ = restoreToken;
  request(Step::CreateSession, QStringLiteral("CreateSession"), {},
          {{QStringLiteral("session_handle_token"), newToken()}});
}

void ScreenCastSession::request(Step step, const QString& method, QList<QVariant> arguments,
                                QVariantMap options) {
  step_ = step;
  const QString token = newToken();
  options.insert(QStringLiteral("handle_token"), token);
  requestPath_ = requestPathFor(bus_, token);
  bus_.connect(Service, requestPath_, RequestInterface, QStringLiteral("Response"), this,
               SLOT(onResponse(uint, QVariantMap)));
  QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Interface, method);
  arguments << options;
  call.setArguments(arguments);
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
    watcher->deleteLater();
    QDBusPendingReply<QDBusObjectPath> reply = *watcher;
    if (reply.isError()) {
      fail(Failure::Failed, reply.error().message());
      return;
    }
    // Portals before version 0.9 choose the path themselves: listen there instead.
    const QString path = reply.value().path();
    if (path != requestPath_) {
      bus_.disconnect(Service, requestPath_, RequestInterface, QStringLiteral("Response"), this,
                      SLOT(onResponse(uint, QVariantMap)));
      requestPath_ = path;
      bus_.connect(Service, requestPath_, RequestInterface, QStringLiteral("Response"), this,
                   SLOT(onResponse(uint, QVariantMap)));
    }
  });
}

void ScreenCastSession::onResponse(uint code, const QVariantMap& results) {
  bus_.disconnect(Service, requestPath_, RequestInterface, QStringLiteral("Response"), this,
                  SLOT(onResponse(uint, QVariantMap)));
  requestPath_.clear();
  if (code == 1) return fail(Failure::Refused, QStringLiteral("cancelled"));
  if (code != 0) return fail(Failure::Failed, QStringLiteral("the portal's answer %1").arg(code));

  switch (step_) {
    case Step::CreateSession: {
      session_ = results.value(QStringLiteral("session_handle")).toString();
      if (session_.isEmpty()) return fail(Failure::Failed, QStringLiteral("no session"));
      bus_.connect(Service, session_, SessionInterface, QStringLiteral("Closed"), this,
                   SLOT(onClosed()));
      QVariantMap options{{QStringLiteral("types"), MonitorSources},
                          {QStringLiteral("multiple"), true},
                          {QStringLiteral("cursor_mode"), CursorAsMetadata},
                          {QStringLiteral("persist_mode"), PersistUntilRevoked}};
      if (!restoreToken_.isEmpty())
        options.insert(QStringLiteral("restore_token"), QString::fromUtf8(restoreToken_));
      request(Step::SelectSources, QStringLiteral("SelectSources"),
              {QVariant::fromValue(QDBusObjectPath(session_))}, options);
      return;
    }
    case Step::SelectSources:
      request(Step::Start, QStringLiteral("Start"),
              {QVariant::fromValue(QDBusObjectPath(session_)), QString()}, {});
      return;
    case Step::Start: {
      const std::vector<CastStream> streams = streamsOf(results.value(QStringLiteral("streams")));
      if (streams.empty()) return fail(Failure::Failed, QStringLiteral("no streams"));
      const QByteArray token = results.value(QStringLiteral("restore_token")).toString().toUtf8();
      step_ = Step::Running;
      QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Interface,
                                                         QStringLiteral("OpenPipeWireRemote"));
      call << QVariant::fromValue(QDBusObjectPath(session_)) << QVariantMap();
      auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
      connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, streams, token] {
        watcher->deleteLater();
        QDBusPendingReply<QDBusUnixFileDescriptor> reply = *watcher;
        if (reply.isError() || !reply.value().isValid())
          return fail(Failure::Failed, QStringLiteral("no PipeWire remote"));
        emit started(streams, reply.value(), token);
      });
      return;
    }
    default:
      return;
  }
}

void ScreenCastSession::onClosed() {
  if (done_) return;
  done_ = true;
  emit closed();
}

void ScreenCastSession::onOwnerChanged(const QString& /*service*/, const QString& oldOwner,
                                       const QString& /*newOwner*/) {
  if (oldOwner.isEmpty() || done_) return;  // the bus starting the portal for the first call
  qCWarning(lcPortal) << "The desktop portal" << oldOwner
                      << "left the bus: its screen-cast session is over";
  // Gone with it: nothing to close, and no new portal to start just to hear so.
  if (!session_.isEmpty())
    bus_.disconnect(Service, session_, SessionInterface, QStringLiteral("Closed"), this,
                    SLOT(onClosed()));
  session_.clear();
  done_ = true;
  emit closed();
}

void ScreenCastSession::fail(Failure why, const QString& detail) {
  if (done_) return;
  done_ = true;
  // A portal that cannot choose the sources with the token given may well choose them with the
  // user. xdg-desktop-portal 1.16 answers the call itself with an error ("Restore token is not a
  // valid UUID string") where the token is not one.
  if (why == Failure::Failed && step_ == Step::SelectSources && !restoreToken_.isEmpty())
    why = Failure::TokenRejected;
  emit failed(why, detail);
}

}  // namespace portal
