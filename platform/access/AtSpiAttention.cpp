#include "platform/access/AtSpiAttention.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QHash>
#include <QMap>
#include <QObject>
#include <QTimer>
#include <vector>

#include "platform/system/Log.h"

namespace {

// How long another program may take to answer: one that takes longer is skipped, and the view
// stays where it was.
constexpr int Deadline = 200;
// The bus's address may need its launcher started first.
constexpr int AddressDeadline = 5000;

const QString Connection = QStringLiteral("vendrel-accessibility");
const QString Registry = QStringLiteral("org.a11y.atspi.Registry");
const QString EventObject = QStringLiteral("org.a11y.atspi.Event.Object");
// What to register for, and the signal that then comes, for each kind of sighting.
const char* const Events[] = {"object:state-changed:focused", "object:text-caret-moved"};
const char* const Members[] = {"StateChanged", "TextCaretMoved"};

// A box in one of the two shapes the bus gives it: a structure (Component) or four numbers
// (Text). Nonsense (negative sizes, coordinates far beyond any screen) is no box.
bool boxOf(const QDBusMessage& reply, Rect& box) {
  if (reply.type() != QDBusMessage::ReplyMessage) return false;
  const QList<QVariant> a = reply.arguments();
  int x = 0, y = 0, w = 0, h = 0;
  if (a.size() == 4) {
    x = a[0].toInt(), y = a[1].toInt(), w = a[2].toInt(), h = a[3].toInt();
  } else if (a.size() == 1 && a[0].canConvert<QDBusArgument>()) {
    const auto arg = a[0].value<QDBusArgument>();
    if (arg.currentSignature() != QLatin1String("(iiii)")) return false;
    arg.beginStructure();
    arg >> x >> y >> w >> h;
    arg.endStructure();
  } else {
    return false;
  }
  constexpr int Far = 1 << 24;
  if (w < 0 || h < 0 || w > Far || h > Far || x < -Far || x > Far || y < -Far || y > Far)
    return false;
  box = {x, y, x + w, y + h};
  return true;
}

class AtSpiAttention final : public QObject, public Attention {
  Q_OBJECT

 public:
  explicit AtSpiAttention(std::function<bool(qint64)> trusted) : trusted_(std::move(trusted)) {
    if (const QByteArray fixed = qgetenv("AT_SPI_BUS_ADDRESS"); !fixed.isEmpty()) {
      QTimer::singleShot(0, this, [this, fixed] { connectTo(QString::fromUtf8(fixed)); });
      return;
    }
    QDBusConnection session = QDBusConnection::sessionBus();
    if (!session.isConnected()) {
      QTimer::singleShot(0, this, [this] { fail(QStringLiteral("no session bus")); });
      return;
    }
    ask(session,
        QDBusMessage::createMethodCall(
            QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
            QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress")),
        AddressDeadline, [this](const QDBusMessage& reply) {
          if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
            connectTo(reply.arguments().constFirst().toString());
          else
            fail(reply.errorMessage());
        });
  }

  ~AtSpiAttention() override {
    if (connected_) QDBusConnection::disconnectFromBus(Connection);
  }

  void follow(bool focus, bool caret, std::function<void(const Sighting&)> seen) override {
    wanted_[Sighting::Focus] = focus;
    wanted_[Sighting::Caret] = caret;
    seen_ = std::move(seen);
    listen();
  }

  void reportTo(std::function<void(const QString&)> unavailable) override {
    report_ = std::move(unavailable);
    if (!trouble_.isEmpty())
      QTimer::singleShot(0, this, [this] {
        if (report_) report_(trouble_);
      });
  }

 private Q_SLOTS:
  void heard(const QDBusMessage& event) {
    const QList<QVariant> a = event.arguments();
    if (a.size() < 2) return;
    const bool focus = event.member() == QLatin1String(Members[Sighting::Focus]);
    const Sighting::Kind kind = focus ? Sighting::Focus : Sighting::Caret;
    if (!wanted_[kind]) return;
    if (focus && (a[0].toString() != QLatin1String("focused") || a[1].toInt() != 1)) return;
    const quint64 number = ++heard_;
    qCDebug(lcAccess) << "heard" << event.member() << "from" << event.service() << event.path();
    const QString sender = event.service();
    const QString path = event.path();
    const int offset = a[1].toInt();
    whenFollowed(sender, [this, kind, sender, path, offset, number] {
      if (kind == Sighting::Focus)
        askFocus(sender, path, number);
      else
        askCaret(sender, path, offset, number);
    });
  }

 private:
  static QDBusConnection bus() { return QDBusConnection(Connection); }

  void ask(const QDBusConnection& on, const QDBusMessage& question, int deadline,
           std::function<void(const QDBusMessage&)> answered) {
    auto* watcher = new QDBusPendingCallWatcher(on.asyncCall(question, deadline), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [watcher, answered = std::move(answered)] {
              watcher->deleteLater();
              answered(watcher->reply());
            });
  }

  void ask(const QString& sender, const QString& path, const QString& interface,
           const QString& method, const QList<QVariant>& arguments,
           std::function<void(const QDBusMessage&)> answered) {
    QDBusMessage question = QDBusMessage::createMethodCall(sender, path, interface, method);
    question.setArguments(arguments);
    ask(bus(), question, Deadline, std::move(answered));
  }

  void connectTo(const QString& address) {
    const QDBusConnection b = QDBusConnection::connectToBus(address, Connection);
    connected_ = true;  // a failed connection is dropped too
    if (!b.isConnected()) return fail(b.lastError().message());
    // A program that leaves the bus is forgotten, with what was waiting for it.
    gone_ = new QDBusServiceWatcher(this);
    gone_->setConnection(b);
    gone_->setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
    connect(gone_, &QDBusServiceWatcher::serviceUnregistered, this, [this](const QString& name) {
      gone_->removeWatchedService(name);
      senders_.remove(name);
      waiting_.remove(name);
    });
    qCDebug(lcAccess) << "listening on the accessibility bus" << address;
    listen();
  }

  void fail(const QString& why) {
    qCWarning(lcAccess) << "no accessibility bus, nothing followed but the pointer:" << why;
    trouble_ = QStringLiteral(
        "Шина специальных возможностей (AT-SPI) недоступна: следовать можно только за мышью");
    if (report_) report_(trouble_);
  }

  // Registering is what makes the toolkits send the events at all.
  void listen() {
    QDBusConnection b = bus();
    if (!b.isConnected()) return;
    for (const Sighting::Kind kind : {Sighting::Focus, Sighting::Caret}) {
      if (wanted_[kind] == listening_[kind]) continue;
      listening_[kind] = wanted_[kind];
      const QStringList match =
          kind == Sighting::Focus ? QStringList{QStringLiteral("focused")} : QStringList{};
      const QString member = QLatin1String(Members[kind]);
      const QString event = QLatin1String(Events[kind]);
      const QString path = QStringLiteral("/org/a11y/atspi/registry");
      if (wanted_[kind]) {
        b.connect(QString(), QString(), EventObject, member, match, QString(), this,
                  SLOT(heard(QDBusMessage)));
        ask(Registry, path, Registry, QStringLiteral("RegisterEvent"),
            {event, QStringList(), QString()}, [event](const QDBusMessage& reply) {
              if (reply.type() == QDBusMessage::ErrorMessage)
                qCWarning(lcAccess) << "the registry did not take" << event << reply.errorMessage();
            });
      } else {
        b.disconnect(QString(), QString(), EventObject, member, match, QString(), this,
                     SLOT(heard(QDBusMessage)));
        ask(Registry, path, Registry, QStringLiteral("DeregisterEvent"), {event},
            [](const QDBusMessage&) {});
      }
    }
  }

  // Runs `asked` once the sender is known to be followed: not this program, and a program
  // whose boxes are in desktop coordinates. Each sender is looked up once.
  void whenFollowed(const QString& sender, std::function<void()> asked) {
    const auto known = senders_.constFind(sender);
    if (known != senders_.constEnd()) {
      if (*known == Verdict::Follow) asked();
      if (*known == Verdict::Asking) waiting_[sender].push_back(std::move(asked));
      return;
    }
    senders_[sender] = Verdict::Asking;
    waiting_[sender].push_back(std::move(asked));
    gone_->addWatchedService(sender);
    ask(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetConnectionUnixProcessID"),
        {sender}, [this, sender](const QDBusMessage& reply) {
          const std::vector<std::function<void()>> asks = waiting_.take(sender);
          const qint64 pid = reply.type() == QDBusMessage::ReplyMessage
                                 ? reply.arguments().value(0).toLongLong()
                                 : 0;
          if (pid <= 0) {  // asked again with its next event
            senders_.remove(sender);
            return;
          }
          const bool own = pid == QCoreApplication::applicationPid();
          const bool follow = !own && trusted_(pid);
          if (!own && !follow)
            qCInfo(lcAccess) << "process" << pid
                             << "is not followed: its boxes are not where the desktop shows them";
          senders_[sender] = follow ? Verdict::Follow : Verdict::Ignore;
          if (follow)
            for (const auto& a : asks) a();
        });
  }

  void askFocus(const QString& sender, const QString& path, quint64 number) {
    ask(sender, path, QStringLiteral("org.a11y.atspi.Component"), QStringLiteral("GetExtents"),
        {QVariant::fromValue(quint32(0))}, [=, this](const QDBusMessage& reply) {
          Rect box;
          if (!boxOf(reply, box)) return skip(sender, reply);
          // The text's direction, where the object has text; none: left to right.
          ask(sender, path, QStringLiteral("org.a11y.atspi.Text"),
              QStringLiteral("GetDefaultAttributes"), {}, [=, this](const QDBusMessage& text) {
                bool rightToLeft = false;
                if (text.type() == QDBusMessage::ReplyMessage && !text.arguments().isEmpty()) {
                  const auto attributes =
                      qdbus_cast<QMap<QString, QString>>(text.arguments().constFirst());
                  rightToLeft =
                      attributes.value(QStringLiteral("direction")) == QLatin1String("rtl");
                }
                tell(number, {Sighting::Focus, box, rightToLeft});
              });
        });
  }

  // A cursor after the last character has no box in some toolkits (Qt's is all zeros): the
  // right edge of the character before it stands in.
  void askCaret(const QString& sender, const QString& path, int offset, quint64 number,
                bool after = false) {
    ask(sender, path, QStringLiteral("org.a11y.atspi.Text"), QStringLiteral("GetCharacterExtents"),
        {offset, QVariant::fromValue(quint32(0))}, [=, this](const QDBusMessage& reply) {
          Rect box;
          if (!boxOf(reply, box)) return skip(sender, reply);
          if (box.height() <= 0 && offset > 0 && !after)
            return askCaret(sender, path, offset - 1, number, true);
          if (after) box.left = box.right;
          tell(number, {Sighting::Caret, box, false});
        });
  }

  // The newest event wins: an answer to an older one that comes after it is dropped.
  void tell(quint64 number, const Sighting& sighting) {
    if (number <= told_ || !wanted_[sighting.kind]) return;
    told_ = number;
    qCDebug(lcAccess) << "seen" << sighting.kind << sighting.box.left << sighting.box.top
                      << sighting.box.width() << sighting.box.height();
    if (seen_) seen_(sighting);
  }

  void skip(const QString& sender, const QDBusMessage& reply) {
    if (unanswered_.pass())
      qCWarning(lcAccess) << "skipped an event of" << sender
                          << "that got no box:" << reply.errorName() << reply.errorMessage()
                          << unanswered_.note();
  }

  enum class Verdict { Asking, Follow, Ignore };
  std::function<bool(qint64)> trusted_;
  std::function<void(const QString&)> report_;
  std::function<void(const Sighting&)> seen_;
  bool wanted_[2] = {false, false};
  bool listening_[2] = {false, false};
  bool connected_ = false;
  QString trouble_;  // why nothing can be followed, once known
  QDBusServiceWatcher* gone_ = nullptr;
  QHash<QString, Verdict> senders_;
  QHash<QString, std::vector<std::function<void()>>> waiting_;
  quint64 heard_ = 0;  // the events, numbered as they come
  quint64 told_ = 0;   // the newest told
  WarningGate unanswered_;
};

}  // namespace

std::unique_ptr<Attention> createAtSpiAttention(std::function<bool(qint64 pid)> trusted) {
  return std::make_unique<AtSpiAttention>(std::move(trusted));
}

#include "AtSpiAttention.moc"
