#include "platform/portal/PortalSource.h"

#include <QDBusConnection>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <optional>
#include <system_error>

#include "platform/pixels/DeviceScale.h"
#include "platform/portal/Descriptor.h"
#include "platform/portal/PipeWireCapture.h"
#include "platform/portal/ScreenCast.h"
#include "platform/system/Log.h"

namespace {

using Clock = std::chrono::steady_clock;
// After a session ends, the next tick this long after asks for a new one.
constexpr auto RetryAfter = std::chrono::seconds(5);
// A cast that has sent no pointer this long after it started is not going to by itself: the
// user hears why the view stays blank.
constexpr auto PointerDueWithin = std::chrono::seconds(3);

const char* const NoPortal =
    "Вендрел не видит экран: на этом рабочем столе Wayland нет службы xdg-desktop-portal, "
    "которая даёт программам изображение экрана.";
const char* const NoPointer =
    "Этот рабочий стол не сообщает программам, где находится указатель мыши, когда даёт им "
    "изображение экрана, и Вендрелу не за чем следовать.";
const char* const Refused =
    "Показ экрана не разрешён, и Вендрелу нечего увеличивать. Запустите его снова и разрешите "
    "показ экрана.";
const char* const Failed = "Рабочий стол не смог начать показ экрана: ";
const char* const NoPointerYet = "Рабочий стол не сообщает, где указатель";
const char* const Stopped = "Рабочий стол перестал показывать экран";
const char* const Interrupted = "Показ экрана прервался";

class PortalSource final : public ScreenSource {
 public:
  explicit PortalSource(PortalHooks hooks) : hooks_(std::move(hooks)) {
    pointerDue_.setSingleShot(true);
    QObject::connect(&pointerDue_, &QTimer::timeout, &context_, [this] { pointerOverdue(); });
    retry_.setSingleShot(true);
    retry_.setTimerType(Qt::PreciseTimer);  // never before the session may be asked for again
    QObject::connect(&retry_, &QTimer::timeout, &context_, [this] { news(); });
  }

  ~PortalSource() override {
    capture_.reset();
    session_.reset();
  }

  QPoint pointer() override {
    ensureSession();
    if (capture_)
      if (const auto p = capture_->pointer()) {
        last_ = *p;
        if (told_) tell({});
      }
    if (!last_) throw std::runtime_error("the portal has not told the pointer yet");
    return *last_;
  }

  const std::vector<Rect>& monitors() override {
    if (!capture_) {
      screensInDevicePixels(monitors_);
      if (monitors_.empty()) monitors_.push_back({});
      return monitors_;
    }
    monitors_ = capture_->monitors();
    // The primary monitor is the one that holds the window, or else the first.
    const QPoint c = hooks_.windowBounds ? hooks_.windowBounds().center() : QPoint();
    for (std::size_t i = 1; i < monitors_.size(); ++i)
      if (monitors_[i].contains(c.x(), c.y()) && !monitors_[0].contains(c.x(), c.y()))
        std::swap(monitors_[0], monitors_[i]);
    return monitors_;
  }

  void keepIn(Keeping keeping) override { keeping_ = std::move(keeping); }
  void reportTo(std::function<void(const QString&)> report) override {
    report_ = std::move(report);
  }

  // Nothing changes but through the cast: a buffer (a picture, or the pointer alone), the cast
  // starting or ending, the time to ask again. What the user does to the window wakes the
  // magnifier on its own.
  bool reportsChanges() override { return true; }
  bool changed() override { return std::exchange(changed_, false); }
  void watch(std::function<void()> wake) override {
    wake_ = std::move(wake);
    if (wake_ && changed_) later([this] { news(); });  // came while the last tick ran
  }

  // Before the first picture, between casts, and where a frame could not be read: the blank the
  // view shows over its own window, never the black of a missing frame.
  bool pictured(const Rect& area) override { return capture_ && capture_->pictured(area); }
  Rect desktopBounds() override { return capture_ ? capture_->desktopBounds() : Rect{}; }
  CapturedPixels capture(const Rect& area) override {
    if (!capture_) throw std::runtime_error("no screen cast");
    return capture_->capture(area);
  }
  bool unchanged(const Rect& area) override { return capture_ && capture_->unchanged(area); }

 private:
  void ensureSession() {
    if (session_ || capture_ || refused_) return;
    if (endedAt_ && Clock::now() - *endedAt_ < RetryAfter) return;
    if (!token_) token_ = keeping_.read ? keeping_.read() : QByteArray();
    if (!token_->isEmpty() && !portal::isRestoreToken(*token_))
      dropToken(QStringLiteral("it is not a UUID"));
    session_ = std::make_unique<portal::ScreenCastSession>(QDBusConnection::sessionBus());
    QObject::connect(session_.get(), &portal::ScreenCastSession::started, &context_,
                     [this](const std::vector<portal::CastStream>& streams,
                            const QDBusUnixFileDescriptor& remote,
                            const QByteArray& token) { started(streams, remote, token); });
    QObject::connect(session_.get(), &portal::ScreenCastSession::failed, &context_,
                     [this](portal::ScreenCastSession::Failure why, const QString& detail) {
                       if (why == portal::ScreenCastSession::Failure::TokenRejected) {
                         dropToken(detail);
                         later([this] {
                           session_.reset();
                           news();  // asked for again at once, and the user chooses
                         });
                         return;
                       }
                       // Final: the user's no is not asked again, not even while the box that
                       // says so is up and the ticks go on under it.
                       refused_ = true;
                       later([this, why, detail] {
                         end();
                         if (hooks_.giveUp)
                           hooks_.giveUp(why == portal::ScreenCastSession::Failure::Refused
                                             ? QString::fromUtf8(Refused)
                                             : QString::fromUtf8(Failed) + detail);
                       });
                     });
    QObject::connect(session_.get(), &portal::ScreenCastSession::closed, &context_,
                     [this] { later([this] { end(Stopped); }); });
    session_->start(*token_);
  }

  // A token the portal will not take is forgotten, here and in the settings: the user is asked
  // once more, and the next start does not fail the same way.
  void dropToken(const QString& why) {
    qCWarning(lcPortal) << "The screen cast's restore token is dropped, and the user asked again:"
                        << why;
    token_ = QByteArray();
    if (keeping_.write) keeping_.write({});
  }

  void started(const std::vector<portal::CastStream>& streams,
               const QDBusUnixFileDescriptor& remote, const QByteArray& token) {
    // Kept at once: the user's permission is not lost if the program is stopped later.
    if (!token.isEmpty()) {
      token_ = token;
      if (keeping_.write) keeping_.write(token);
    }
    Descriptor fd = Descriptor::duplicate(remote.fileDescriptor());
    if (!fd) {
      qCWarning(lcPortal) << "The PipeWire remote could not be kept:"
                          << std::generic_category().message(errno).c_str();
      later([this] { end(Interrupted); });
      return;
    }
    std::vector<PipeWireCapture::Stream> wanted;
    wanted.reserve(streams.size());
    for (const auto& s : streams) wanted.push_back({s.node, s.onDesktop});
    capture_ = std::make_unique<PipeWireCapture>(
        std::move(fd), wanted, [this] { later([this] { end(Interrupted); }); }, [this] { news(); });
    pointerDue_.start(PointerDueWithin);
    news();
  }

  // The session is over, for whatever reason: the view goes blank, the user hears `why` where
  // the program goes on, and a later tick asks again.
  void end(const char* why = nullptr) {
    capture_.reset();
    session_.reset();
    endedAt_ = Clock::now();
    pointerDue_.stop();
    retry_.start(RetryAfter + std::chrono::milliseconds(50));
    if (why) tell(QString::fromUtf8(why));
    news();
  }

  // Something may have changed: the magnifier, if it rests, looks again.
  void news() {
    changed_ = true;
    if (auto wake = std::exchange(wake_, nullptr)) wake();
  }

  // The cast runs, and still no word of the pointer: the user is told why nothing shows, and
  // the magnifier goes on waiting for it.
  void pointerOverdue() {
    if (!capture_ || capture_->pointer()) return;
    // A cast that does not stream sends nothing at all: not a missing pointer, but a stall,
    // which ends it.
    if (!capture_->streaming()) {
      pointerDue_.start(PointerDueWithin);
      return;
    }
    static WarningGate gate;
    if (gate.pass())
      qCWarning(lcPortal) << "The screen cast has sent no pointer position"
                          << PointerDueWithin.count()
                          << "s after it started: the compositor may not have agreed to send "
                             "the pointer with the frames;"
                          << gate.note();
    tell(QString::fromUtf8(NoPointerYet));
    pointerDue_.start(std::chrono::seconds(10));  // the warning again, at most that often
  }

  void tell(const QString& text) {
    told_ = !text.isEmpty();
    if (report_) report_(text);
  }

  // Runs `what` from the event loop, never inside the callback of what it may destroy.
  void later(std::function<void()> what) { QTimer::singleShot(0, &context_, std::move(what)); }

  PortalHooks hooks_;
  Keeping keeping_;
  std::function<void(const QString&)> report_;
  bool told_ = false;  // the user has been told why the view cannot follow the pointer
  std::function<void()> wake_;
  bool changed_ = false;
  QTimer pointerDue_;  // while the cast has not sent the pointer: when to tell the user
  QTimer retry_;       // after a cast ended: when to ask for a new one
  QObject context_;
  std::unique_ptr<portal::ScreenCastSession> session_;
  std::unique_ptr<PipeWireCapture> capture_;
  std::optional<Clock::time_point> endedAt_;
  std::optional<QByteArray> token_;  // the user's permission, read from the settings once
  bool refused_ = false;             // the portal or the user said no: the program is ending
  std::optional<QPoint> last_;
  std::vector<Rect> monitors_;
};

}  // namespace

std::unique_ptr<ScreenSource> createPortalSource(PortalHooks hooks) {
  const auto modes = portal::availableCursorModes(QDBusConnection::sessionBus());
  if (!modes) throw DesktopUnavailable(NoPortal);
  if (!(*modes & portal::CursorAsMetadata)) throw DesktopUnavailable(NoPointer);
  return std::make_unique<PortalSource>(std::move(hooks));
}
