#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <optional>
#include <vector>

#include "platform/pixels/Rect.h"

// The ScreenCast interface of the desktop portal (org.freedesktop.portal.ScreenCast) on the
// session bus.
namespace portal {

constexpr std::uint32_t MonitorSources = 1;
constexpr std::uint32_t CursorAsMetadata = 4;  // the pointer's position comes with each frame
constexpr std::uint32_t PersistUntilRevoked = 2;

// The cursor modes the portal offers (a bit each), or nothing when there is no portal with
// ScreenCast on the bus. Asks synchronously, waiting at most a few seconds.
std::optional<std::uint32_t> availableCursorModes(const QDBusConnection& bus);

// Whether `token` has the form of the restore tokens portals give (a UUID in its usual text).
// Anything else in the settings file was not written by a portal, and a portal refuses it.
bool isRestoreToken(const QByteArray& token);

struct CastStream {
  std::uint32_t node;
  Rect onDesktop;
};

// One screen-cast session, asked for step by step (CreateSession, SelectSources, Start,
// OpenPipeWireRemote) without ever waiting: each step answers through the event loop.
class ScreenCastSession final : public QObject {
  Q_OBJECT

 public:
  enum class Failure {
    Refused,        // the user said no, or closed the portal's dialog
    Failed,         // the portal could not
    TokenRejected,  // the portal would not take the restore token: ask without it
  };

  explicit ScreenCastSession(QDBusConnection bus);
  ~ScreenCastSession() override;

  // Starts the session, with the permission the user gave last time (the portal's restore token)
  // when there is one.
  void start(const QByteArray& restoreToken);

 signals:
  // The streams, the PipeWire remote (closed with the last copy of it; the receiver duplicates
  // what it keeps) and the token to keep for the next start (empty when the portal gives none).
  void started(std::vector<portal::CastStream> streams, QDBusUnixFileDescriptor pipeWire,
               QByteArray restoreToken);
  void failed(portal::ScreenCastSession::Failure why, QString detail);
  // The portal or the compositor ended the session, or the portal left the bus.
  void closed();

 private slots:
  void onResponse(uint code, const QVariantMap& results);
  void onClosed();
  void onOwnerChanged(const QString& service, const QString& oldOwner, const QString& newOwner);

 private:
  enum class Step { None, CreateSession, SelectSources, Start, Running };
  // Calls `method` with a fresh request handle and waits for its Response signal.
  void request(Step step, const QString& method, QList<QVariant> arguments, QVariantMap options);
  void fail(Failure why, const QString& detail);

  QDBusConnection bus_;
  // A portal that left the bus (ended, crashed) answers no request and ends no session: the
  // session is over then, and the bus starts a new portal for the next one.
  QDBusServiceWatcher portal_;
  Step step_ = Step::None;
  QString requestPath_;
  QString session_;
  QByteArray restoreToken_;
  bool done_ = false;
};

}  // namespace portal
