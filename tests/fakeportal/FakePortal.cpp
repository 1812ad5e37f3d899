// A stand-in for the desktop portal and the compositor behind it, for the tests: it implements
// org.freedesktop.portal.ScreenCast on the session bus with the documented Request/Response
// signals, publishes one PipeWire stream per monitor of a picture in which every pixel's colour
// is its position on the desktop (y * width + x), sends the pointer's position as SPA_META_Cursor
// with it, and plays the session manager's part by linking the streams to whoever asks for
// them. It records every call and its options, one line each, in the log file.
//
//   vendrel-fake-portal --log FILE [--monitors 1024x768+0+0,800x600+1024+0] [--cursor-modes 7]
//                       [--refuse] [--token TOKEN] [--format BGRx|BGRA|RGBx|RGBA]
//                       [--no-cursor-meta] [--bad-chunk]
//
// --no-cursor-meta offers no room for the pointer's metadata, as a compositor does whose
// offer the consumer's request does not meet: PipeWire then drops the metadata altogether.
// --bad-chunk sends every picture with a chunk that says its rows lie past the buffer's end.
//
// It says "ready" on its output once it owns its name and its streams are up, and takes
// commands on its input, a line each: "cursor X Y" (desktop pixels), "frame", "end" (the
// streams and the session go, as when a monitor is unplugged or the compositor stops).
#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QFile>
#include <QRect>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

struct Pair {
  int a = 0, b = 0;
};
Q_DECLARE_METATYPE(Pair)
QDBusArgument& operator<<(QDBusArgument& arg, const Pair& p) {
  arg.beginStructure();
  arg << p.a << p.b;
  arg.endStructure();
  return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, Pair& p) {
  arg.beginStructure();
  arg >> p.a >> p.b;
  arg.endStructure();
  return arg;
}

struct StreamDescription {
  uint node = 0;
  QVariantMap properties;
};
Q_DECLARE_METATYPE(StreamDescription)
QDBusArgument& operator<<(QDBusArgument& arg, const StreamDescription& s) {
  arg.beginStructure();
  arg << s.node << s.properties;
  arg.endStructure();
  return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, StreamDescription& s) {
  arg.beginStructure();
  arg >> s.node >> s.properties;
  arg.endStructure();
  return arg;
}
using StreamList = QList<StreamDescription>;
Q_DECLARE_METATYPE(StreamList)

namespace {

QFile logFile;

void record(const QString& line) {
  logFile.write(line.toUtf8() + '\n');
  logFile.flush();
}

struct Monitor {
  QRect rect;
};

std::uint32_t spaFormat(const QString& name) {
  if (name == QLatin1String("BGRA")) return SPA_VIDEO_FORMAT_BGRA;
  if (name == QLatin1String("RGBx")) return SPA_VIDEO_FORMAT_RGBx;
  if (name == QLatin1String("RGBA")) return SPA_VIDEO_FORMAT_RGBA;
  return SPA_VIDEO_FORMAT_BGRx;
}

// The compositor's side: the streams, on PipeWire, run from Qt's loop.
class Producer {
 public:
  struct Out {
    Producer* owner;
    QRect rect;
    pw_stream* stream = nullptr;
    spa_hook listener{};
    std::uint32_t node = SPA_ID_INVALID;
    bool streaming = false;
    bool picture = false;  // the next buffer carries a picture
    bool pending = false;  // something is still to be sent
  };

  struct Faults {
    bool noCursorMeta = false;
    bool badChunk = false;
  };

  Producer(const std::vector<Monitor>& monitors, std::uint32_t format, int desktopWidth,
           Faults faults)
      : monitors_(monitors), format_(format), width_(desktopWidth), faults_(faults) {
    pw_init(nullptr, nullptr);
    loop_ = pw_loop_new(nullptr);
    pw_loop_enter(loop_);
    context_ = pw_context_new(loop_, nullptr, 0);
    core_ = pw_context_connect(context_, nullptr, 0);
    if (!core_) throw std::runtime_error("no PipeWire daemon");
    registry_ = pw_core_get_registry(core_, PW_VERSION_REGISTRY, 0);
    static const pw_registry_events registryEvents = [] {
      pw_registry_events e{};
      e.version = PW_VERSION_REGISTRY_EVENTS;
      e.global = onGlobal;
      e.global_remove = onGlobalRemove;
      return e;
    }();
    pw_registry_add_listener(registry_, &registryListener_, &registryEvents, this);
    for (std::size_t i = 0; i < monitors.size(); ++i)
      addStream(monitors[i].rect, static_cast<int>(i));
    retry_.setInterval(5);
    QObject::connect(&retry_, &QTimer::timeout, [this] { retry(); });
    notifier_ = std::make_unique<QSocketNotifier>(pw_loop_get_fd(loop_), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated,
                     [this] { pw_loop_iterate(loop_, 0); });
    pw_loop_iterate(loop_, 0);
  }

  bool ready() const {
    for (const auto& o : outs_)
      if (o->node == SPA_ID_INVALID) return false;
    return true;
  }
  const std::vector<std::unique_ptr<Out>>& outs() const { return outs_; }

  void setCursor(QPoint p) {
    cursor_ = p;
    for (auto& o : outs_) send(*o, false);
  }
  void sendFrames() {
    for (auto& o : outs_) send(*o, true);
  }
  // The streams go, as when the compositor ends the cast; new ones stand ready for the next.
  void end() {
    for (auto& o : outs_) pw_stream_destroy(o->stream);
    outs_.clear();
    linked_.clear();
    for (std::size_t i = 0; i < monitors_.size(); ++i)
      addStream(monitors_[i].rect, static_cast<int>(i));
    pw_loop_iterate(loop_, 0);
  }

 private:
  void addStream(QRect rect, int index) {
    auto o = std::make_unique<Out>();
    o->owner = this;
    o->rect = rect;
    const QByteArray name = "fake-monitor-" + QByteArray::number(index);
    o->stream = pw_stream_new(core_, name.constData(),
                              pw_properties_new(PW_KEY_MEDIA_CLASS, "Video/Source",
                                                PW_KEY_NODE_NAME, name.constData(), nullptr));
    static const pw_stream_events events = [] {
      pw_stream_events e{};
      e.version = PW_VERSION_STREAM_EVENTS;
      e.state_changed = onState;
      e.param_changed = onParam;
      e.process = onProcess;
      return e;
    }();
    pw_stream_add_listener(o->stream, &o->listener, &events, o.get());
    std::uint8_t buffer[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    const spa_rectangle size{static_cast<std::uint32_t>(rect.width()),
                             static_cast<std::uint32_t>(rect.height())};
    const spa_fraction variable{0, 1}, most{60, 1}, least{1, 1};
    const spa_pod* params[1] = {static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
        SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
        SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format, SPA_POD_Id(format_),
        SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&size), SPA_FORMAT_VIDEO_framerate,
        SPA_POD_Fraction(&variable), SPA_FORMAT_VIDEO_maxFramerate,
        SPA_POD_CHOICE_RANGE_Fraction(&most, &least, &most)))};
    pw_stream_connect(
        o->stream, PW_DIRECTION_OUTPUT, PW_ID_ANY,
        static_cast<pw_stream_flags>(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS), params,
        1);
    outs_.push_back(std::move(o));
  }

  static void onState(void* data, pw_stream_state, pw_stream_state state, const char*) {
    auto* o = static_cast<Out*>(data);
    if (o->node == SPA_ID_INVALID) o->node = pw_stream_get_node_id(o->stream);
    const bool was = o->streaming;
    o->streaming = state == PW_STREAM_STATE_STREAMING;
    if (o->streaming && !was) {
      record(QStringLiteral("Streaming %1").arg(o->node));
      o->owner->send(*o, true);
      // The screen goes on changing, as screens do: a buffer sent the moment the stream starts
      // may reach a consumer not quite ready for it.
      for (int ms : {50, 200})
        QTimer::singleShot(ms, &o->owner->timers_, [owner = o->owner, node = o->node] {
          for (auto& out : owner->outs_)
            if (out->node == node) owner->send(*out, true);
        });
    }
  }

  static void onParam(void* data, std::uint32_t id, const spa_pod* param) {
    auto* o = static_cast<Out*>(data);
    if (!param || id != SPA_PARAM_Format) return;
    const int stride = o->rect.width() * 4;
    std::uint8_t buffer[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    const std::uint32_t cursorSize =
        sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap) + 64 * 64 * 4;
    const spa_pod* params[3] = {
        static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
            SPA_POD_CHOICE_RANGE_Int(8, 2, 16), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1),
            SPA_PARAM_BUFFERS_size, SPA_POD_Int(stride * o->rect.height()),
            SPA_PARAM_BUFFERS_stride, SPA_POD_Int(stride), SPA_PARAM_BUFFERS_dataType,
            SPA_POD_CHOICE_FLAGS_Int(1 << SPA_DATA_MemFd))),
        static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
            SPA_POD_Id(SPA_META_Cursor), SPA_PARAM_META_size, SPA_POD_Int(cursorSize))),
        static_cast<const spa_pod*>(
            spa_pod_builder_add_object(&b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta,
                                       SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Header),
                                       SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_header))))};
    if (o->owner->faults_.noCursorMeta) {
      params[1] = params[2];
      pw_stream_update_params(o->stream, params, 2);
      return;
    }
    pw_stream_update_params(o->stream, params, 3);
  }

  // A frame (the picture and the pointer) or a pointer update alone: the stream drives the
  // graph, and fills a buffer when the cycle it starts comes round.
  // A cycle that finds no free buffer, or a trigger while a cycle runs, sends nothing: asked
  // again every few milliseconds until it has gone.
  void send(Out& o, bool picture) {
    if (!o.streaming) return;
    o.picture = o.picture || picture;
    o.pending = true;
    pw_stream_trigger_process(o.stream);
    pw_loop_iterate(loop_, 0);
    if (!retry_.isActive()) retry_.start();
  }

  void retry() {
    bool any = false;
    for (auto& o : outs_)
      if (o->pending && o->streaming) {
        any = true;
        pw_stream_trigger_process(o->stream);
      }
    pw_loop_iterate(loop_, 0);
    if (!any) retry_.stop();
  }

  static void onProcess(void* data) {
    auto* o = static_cast<Out*>(data);
    if (o->owner->fill(*o, o->picture)) {
      o->picture = false;
      o->pending = false;
    }
  }

  bool fill(Out& o, bool picture) {
    pw_buffer* b = pw_stream_dequeue_buffer(o.stream);
    if (!b) return false;
    spa_buffer* buf = b->buffer;
    spa_data& d = buf->datas[0];
    if (picture && d.data) {
      const int stride = o.rect.width() * 4;
      auto* bytes = static_cast<std::uint8_t*>(d.data);
      for (int y = 0; y < o.rect.height(); ++y)
        for (int x = 0; x < o.rect.width(); ++x) {
          const std::uint32_t v =
              static_cast<std::uint32_t>((o.rect.y() + y) * width_ + o.rect.x() + x);
          std::uint8_t* p = bytes + y * stride + x * 4;
          const std::uint8_t r = (v >> 16) & 0xff, g = (v >> 8) & 0xff, bl = v & 0xff;
          const bool bgr = format_ == SPA_VIDEO_FORMAT_BGRx || format_ == SPA_VIDEO_FORMAT_BGRA;
          p[0] = bgr ? bl : r;
          p[1] = g;
          p[2] = bgr ? r : bl;
          p[3] = 0xff;
        }
      d.chunk->offset = faults_.badChunk ? d.maxsize - 4 : 0;
      d.chunk->stride = stride;
      d.chunk->size = static_cast<std::uint32_t>(stride * o.rect.height());
      d.chunk->flags = 0;
    } else {
      d.chunk->size = 0;  // nothing but the pointer
    }
    if (spa_meta* m = spa_buffer_find_meta(buf, SPA_META_Cursor)) {
      auto* c = static_cast<spa_meta_cursor*>(m->data);
      const QPoint local = cursor_ - o.rect.topLeft();
      if (cursor_.x() >= 0 && o.rect.contains(cursor_)) {
        c->id = 1;
        c->position.x = local.x();
        c->position.y = local.y();
      } else {
        c->id = 0;  // the pointer is on another monitor
      }
      c->flags = 0;
      c->hotspot = {0, 0};
      c->bitmap_offset = 0;
    }
    pw_stream_queue_buffer(o.stream, b);
    return true;
  }

  // The session manager's part: a stream that names one of these as its target gets linked.
  // Its target is among the node's own properties, which only binding the node tells.
  struct Watched {
    Producer* owner;
    std::uint32_t id;
    pw_proxy* proxy;
    spa_hook listener{};
  };

  static void onGlobal(void* data, std::uint32_t id, std::uint32_t, const char* type, std::uint32_t,
                       const spa_dict* props) {
    auto* self = static_cast<Producer*>(data);
    if (std::strcmp(type, PW_TYPE_INTERFACE_Node) != 0 || !props) return;
    const char* mediaClass = spa_dict_lookup(props, PW_KEY_MEDIA_CLASS);
    if (!mediaClass || std::strcmp(mediaClass, "Stream/Input/Video") != 0) return;
    auto w = std::make_unique<Watched>();
    w->owner = self;
    w->id = id;
    w->proxy = static_cast<pw_proxy*>(
        pw_registry_bind(self->registry_, id, PW_TYPE_INTERFACE_Node, PW_VERSION_NODE, 0));
    static const pw_node_events events = [] {
      pw_node_events e{};
      e.version = PW_VERSION_NODE_EVENTS;
      e.info = onNodeInfo;
      return e;
    }();
    pw_node_add_listener(reinterpret_cast<pw_node*>(w->proxy), &w->listener, &events, w.get());
    self->watched_.push_back(std::move(w));
  }

  // Ids come round again: a node that went is forgotten.
  static void onGlobalRemove(void* data, std::uint32_t id) {
    auto* self = static_cast<Producer*>(data);
    self->linked_.removeAll(id);
    for (auto it = self->watched_.begin(); it != self->watched_.end();)
      if ((*it)->id == id) {
        spa_hook_remove(&(*it)->listener);
        pw_proxy_destroy((*it)->proxy);
        it = self->watched_.erase(it);
      } else {
        ++it;
      }
  }

  static void onNodeInfo(void* data, const pw_node_info* info) {
    auto* w = static_cast<Watched*>(data);
    if (!info->props) return;
    const char* target = spa_dict_lookup(info->props, PW_KEY_TARGET_OBJECT);
    if (!target) target = spa_dict_lookup(info->props, PW_KEY_NODE_TARGET);
    if (!target) return;
    Producer* self = w->owner;
    for (const auto& o : self->outs_)
      if (QByteArray(target) == QByteArray::number(o->node) && !self->linked_.contains(w->id)) {
        self->linked_ << w->id;
        pw_properties* p = pw_properties_new(nullptr, nullptr);
        pw_properties_setf(p, PW_KEY_LINK_OUTPUT_NODE, "%u", o->node);
        pw_properties_setf(p, PW_KEY_LINK_INPUT_NODE, "%u", w->id);
        pw_properties_set(p, PW_KEY_OBJECT_LINGER, "false");
        pw_core_create_object(self->core_, "link-factory", PW_TYPE_INTERFACE_Link, PW_VERSION_LINK,
                              &p->dict, 0);
        pw_properties_free(p);
        record(QStringLiteral("Linked %1 to %2").arg(o->node).arg(w->id));
      }
  }

  std::vector<Monitor> monitors_;
  std::uint32_t format_;
  int width_;
  Faults faults_;
  pw_loop* loop_ = nullptr;
  pw_context* context_ = nullptr;
  pw_core* core_ = nullptr;
  pw_registry* registry_ = nullptr;
  spa_hook registryListener_{};
  std::vector<std::unique_ptr<Out>> outs_;
  std::unique_ptr<QSocketNotifier> notifier_;
  QTimer retry_;
  QObject timers_;  // timers that go with this object
  QPoint cursor_{-1, -1};
  std::vector<std::unique_ptr<Watched>> watched_;
  QList<std::uint32_t> linked_;
};

QString options(const QVariantMap& o) {
  QStringList parts;
  for (auto it = o.begin(); it != o.end(); ++it)
    if (it.key() != QLatin1String("handle_token") &&
        it.key() != QLatin1String("session_handle_token"))
      parts << it.key() + QLatin1Char('=') + it.value().toString();
  return parts.join(QLatin1Char(' '));
}

}  // namespace

class FakeSession : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Session")
 public slots:
  void Close() { record(QStringLiteral("Close")); }
};

class FakeScreenCast : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.ScreenCast")
  Q_PROPERTY(uint AvailableSourceTypes READ sourceTypes)
  Q_PROPERTY(uint AvailableCursorModes READ cursorModes)
  Q_PROPERTY(uint version READ version)

 public:
  FakeScreenCast(Producer& producer, uint cursorModes, bool refuse, QString token)
      : producer_(producer), cursorModes_(cursorModes), refuse_(refuse), token_(std::move(token)) {}
  uint sourceTypes() const { return 1; }
  uint cursorModes() const { return cursorModes_; }
  uint version() const { return 4; }

  void closeSession() {
    if (session_.isEmpty()) return;
    QDBusConnection::sessionBus().send(
        QDBusMessage::createSignal(session_, QStringLiteral("org.freedesktop.portal.Session"),
                                   QStringLiteral("Closed"))
        << QVariantMap());
    record(QStringLiteral("Closed"));
  }

 public slots:
  QDBusObjectPath CreateSession(const QVariantMap& options, const QDBusMessage& message) {
    record(QStringLiteral("CreateSession"));
    session_ = path(QStringLiteral("session"), message,
                    options.value(QStringLiteral("session_handle_token")).toString());
    sessionObject_ = std::make_unique<FakeSession>();
    QDBusConnection::sessionBus().registerObject(session_, sessionObject_.get(),
                                                 QDBusConnection::ExportAllSlots);
    return respond(message, options, 0, {{QStringLiteral("session_handle"), session_}});
  }
  QDBusObjectPath SelectSources(const QDBusObjectPath&, const QVariantMap& o,
                                const QDBusMessage& m) {
    record(QStringLiteral("SelectSources ") + options(o));
    return respond(m, o, 0, {});
  }
  QDBusObjectPath Start(const QDBusObjectPath&, const QString&, const QVariantMap& o,
                        const QDBusMessage& m) {
    record(QStringLiteral("Start"));
    if (refuse_) return respond(m, o, 1, {});
    StreamList streams;
    for (const auto& out : producer_.outs()) {
      QVariantMap p;
      p.insert(QStringLiteral("position"), QVariant::fromValue(Pair{out->rect.x(), out->rect.y()}));
      p.insert(QStringLiteral("size"),
               QVariant::fromValue(Pair{out->rect.width(), out->rect.height()}));
      p.insert(QStringLiteral("source_type"), 1u);
      streams << StreamDescription{out->node, p};
    }
    QVariantMap results{{QStringLiteral("streams"), QVariant::fromValue(streams)}};
    if (!token_.isEmpty()) results.insert(QStringLiteral("restore_token"), token_);
    return respond(m, o, 0, results);
  }
  QDBusUnixFileDescriptor OpenPipeWireRemote(const QDBusObjectPath&, const QVariantMap&) {
    record(QStringLiteral("OpenPipeWireRemote"));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray socketPath = qgetenv("XDG_RUNTIME_DIR") + "/pipewire-0";
    std::strncpy(address.sun_path, socketPath.constData(), sizeof address.sun_path - 1);
    ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    QDBusUnixFileDescriptor out(fd);  // a copy of its own
    ::close(fd);
    return out;
  }

 private:
  static QString path(const QString& kind, const QDBusMessage& m, const QString& token) {
    QString sender = m.service().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return QStringLiteral("/org/freedesktop/portal/desktop/%1/%2/%3").arg(kind, sender, token);
  }

  QDBusObjectPath respond(const QDBusMessage& m, const QVariantMap& o, uint code,
                          QVariantMap results) {
    const QString handle =
        path(QStringLiteral("request"), m, o.value(QStringLiteral("handle_token")).toString());
    // The answer comes after the call has returned, as from a portal that shows a dialog.
    QTimer::singleShot(20, [handle, code, results] {
      QDBusConnection::sessionBus().send(
          QDBusMessage::createSignal(handle, QStringLiteral("org.freedesktop.portal.Request"),
                                     QStringLiteral("Response"))
          << code << results);
    });
    return QDBusObjectPath(handle);
  }

  Producer& producer_;
  uint cursorModes_;
  bool refuse_;
  QString token_;
  QString session_;
  std::unique_ptr<FakeSession> sessionObject_;
};

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  qDBusRegisterMetaType<Pair>();
  qDBusRegisterMetaType<StreamDescription>();
  qDBusRegisterMetaType<StreamList>();
  QStringList args = app.arguments();
  auto value = [&](const char* name, const QString& fallback) {
    const int i = args.indexOf(QLatin1String(name));
    return i >= 0 && i + 1 < args.size() ? args[i + 1] : fallback;
  };
  logFile.setFileName(value("--log", QStringLiteral("/dev/null")));
  if (!logFile.open(QIODevice::WriteOnly | QIODevice::Append)) return 2;

  std::vector<Monitor> monitors;
  int width = 0;
  for (const QString& m :
       value("--monitors", QStringLiteral("1024x768+0+0")).split(QLatin1Char(','))) {
    const QStringList p = m.split(QRegularExpression(QStringLiteral("[x+]")));
    if (p.size() != 4) return 2;
    monitors.push_back({QRect(p[2].toInt(), p[3].toInt(), p[0].toInt(), p[1].toInt())});
    width = std::max(width, monitors.back().rect.right() + 1);
  }
  std::unique_ptr<Producer> producer;
  try {
    producer = std::make_unique<Producer>(
        monitors, spaFormat(value("--format", QStringLiteral("BGRx"))), width,
        Producer::Faults{args.contains(QStringLiteral("--no-cursor-meta")),
                         args.contains(QStringLiteral("--bad-chunk"))});
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vendrel-fake-portal: %s\n", e.what());
    return 1;
  }
  FakeScreenCast portal(*producer, value("--cursor-modes", QStringLiteral("7")).toUInt(),
                        args.contains(QStringLiteral("--refuse")),
                        value("--token", QStringLiteral("5b2a1f7e-3c4d-4e8f-9a0b-1c2d3e4f5a6b")));
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &portal,
                          QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties) ||
      !bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop"))) {
    std::fprintf(stderr, "vendrel-fake-portal: cannot take the portal's name\n");
    return 1;
  }

  QTimer readiness;
  QObject::connect(&readiness, &QTimer::timeout, [&] {
    if (!producer->ready()) return;
    readiness.stop();
    std::printf("ready\n");
    std::fflush(stdout);
  });
  readiness.start(10);

  QSocketNotifier input(0, QSocketNotifier::Read);
  QByteArray pending;
  QObject::connect(&input, &QSocketNotifier::activated, [&] {
    char chunk[256];
    const ssize_t n = ::read(0, chunk, sizeof chunk);
    if (n <= 0) {
      QCoreApplication::quit();
      return;
    }
    pending.append(chunk, n);
    for (qsizetype nl; (nl = pending.indexOf('\n')) >= 0; pending.remove(0, nl + 1)) {
      const QList<QByteArray> words = pending.left(nl).split(' ');
      if (words.value(0) == "cursor" && words.size() == 3) {
        producer->setCursor({words[1].toInt(), words[2].toInt()});
      } else if (words.value(0) == "frame") {
        producer->sendFrames();
      } else if (words.value(0) == "end") {
        producer->end();
        portal.closeSession();
      }
      std::printf("done\n");
      std::fflush(stdout);
    }
  });
  return app.exec();
}

#include "FakePortal.moc"
