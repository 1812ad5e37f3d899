#include "platform/portal/PipeWireCapture.h"

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <spa/utils/result.h>

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

#include "platform/portal/Frames.h"
#include "platform/system/Log.h"

namespace {

// Room for the pointer's metadata with a picture of w x h pixels. Only the position is read,
// but PipeWire drops the metadata altogether unless the room asked for and the room the
// compositor offers overlap: mutter 43 offers exactly 384 x 384, KWin 5.27 exactly 256 x 256.
// Any room from none for a picture up to 1024 x 1024 is taken, the compositor's choice.
constexpr std::uint32_t cursorMetaSize(int w, int h) {
  return static_cast<std::uint32_t>(sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap) +
                                    static_cast<std::size_t>(w) * h * 4);
}
constexpr std::uint32_t SmallestCursorMeta = sizeof(spa_meta_cursor);
constexpr std::uint32_t LargestCursorMeta = cursorMetaSize(1024, 1024);

}  // namespace

struct PipeWireCapture::Impl {
  struct StreamState {
    Impl* owner = nullptr;
    std::uint32_t node = 0;
    StreamPlace place;
    FrameFormat format = FrameFormat::BGRx;
    pw_stream* stream = nullptr;
    spa_hook listener{};
    pw_stream_state state = PW_STREAM_STATE_UNCONNECTED;
    pw_buffer* held = nullptr;  // the latest frame, kept until a newer one comes
    FrameLayout layout;         // where its rows lie, as checked when it came
  };

  pw_loop* loop = nullptr;
  pw_context* context = nullptr;
  pw_core* core = nullptr;
  spa_hook coreListener{};
  pw_registry* registry = nullptr;
  spa_hook registryListener{};
  std::vector<std::unique_ptr<StreamState>> streams;
  std::unique_ptr<QSocketNotifier> notifier;
  QObject context_;  // posts the end from the event loop; goes with this object
  QTimer stall;      // runs while a stream is not streaming
  std::function<void()> ended;
  std::function<void()> arrived;
  bool endPosted = false;
  bool fresh = false;  // buffers came in this turn of PipeWire's loop
  std::uint64_t skipped = 0;
  std::optional<QPoint> pointer;
  std::vector<std::uint32_t> scratch;
  std::uint64_t pictures = 0;  // frames taken in so far
  // What the last capture read, and how many frames had come by then.
  Rect readArea;
  std::vector<std::uint32_t> read, previous;
  std::uint64_t picturesRead = 0;

  CapturedPixels keep(const CapturedPixels& pixels) {
    const auto w = static_cast<std::size_t>(pixels.area.width());
    read.resize(w * static_cast<std::size_t>(pixels.area.height()));
    for (int y = 0; y < pixels.area.height(); ++y)
      std::memcpy(read.data() + y * w, pixels.bits + static_cast<std::ptrdiff_t>(y) * pixels.stride,
                  w * 4);
    readArea = pixels.area;
    picturesRead = pictures;
    return pixels;
  }

  void end() {
    if (endPosted) return;
    endPosted = true;
    QTimer::singleShot(0, &context_, [this] {
      if (ended) ended();
    });
  }

  const StreamState* notStreaming() const {
    for (const auto& s : streams)
      if (s->state != PW_STREAM_STATE_STREAMING) return s.get();
    return nullptr;
  }

  // A stream left streaming, or has yet to start: unless all stream again within the time, the
  // cast has stalled. Its last picture is no longer the screen, and a still desktop is all
  // that silence could otherwise be taken for.
  void watchStall() {
    if (!notStreaming()) {
      stall.stop();
    } else if (!stall.isActive()) {
      stall.start(StallAfterMs);
    }
  }

  void stalled() {
    const StreamState* s = notStreaming();
    if (!s) return;
    qCWarning(lcPortal).nospace() << "The stream of PipeWire node " << s->node
                                  << " has not been streaming for " << StallAfterMs << " ms ("
                                  << pw_stream_state_as_string(s->state)
                                  << "): the screen cast has stalled";
    end();
  }

  const StreamState* holding(const Rect& area) const {
    for (const auto& s : streams)
      if (s->place.onDesktop.intersected(area) == area) return s.get();
    return nullptr;
  }

  // From the layout checked when the frame came, never from its chunk again: the producer
  // writes that, and may change it meanwhile.
  static const std::uint8_t* pixels(const StreamState& s, int* stride) {
    if (!s.held || s.layout.frame != s.place.frame) return nullptr;
    *stride = static_cast<int>(s.layout.stride);
    return static_cast<const std::uint8_t*>(s.held->buffer->datas[0].data) + s.layout.offset;
  }

  void iterate() {
    pw_loop_iterate(loop, 0);
    if (std::exchange(fresh, false) && arrived) arrived();
  }

  // ---- PipeWire's callbacks ------------------------------------------------------------------

  static void onStreamState(void* data, pw_stream_state, pw_stream_state state, const char* error) {
    auto* s = static_cast<StreamState*>(data);
    s->state = state;
    if (state != PW_STREAM_STATE_ERROR && state != PW_STREAM_STATE_UNCONNECTED)
      return s->owner->watchStall();
    static WarningGate gate;
    if (gate.pass())
      qCWarning(lcPortal) << "The stream of PipeWire node" << s->node
                          << "stopped:" << (error ? error : pw_stream_state_as_string(state))
                          << gate.note();
    s->owner->end();
  }

  static void onStreamParam(void* data, std::uint32_t id, const spa_pod* param) {
    auto* s = static_cast<StreamState*>(data);
    if (!param || id != SPA_PARAM_Format) return;
    spa_video_info_raw info{};
    if (spa_format_video_raw_parse(param, &info) < 0) return;
    const auto format = frameFormatOf(info.format);
    if (!format) return;
    s->format = *format;
    s->place.frame = QSize(static_cast<int>(info.size.width), static_cast<int>(info.size.height));

    std::uint8_t buffer[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    const spa_pod* params[3];
    // Buffers in memory this program can map: shared memory or a memfd, never a GPU's.
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
        SPA_POD_CHOICE_RANGE_Int(8, 2, 16), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1),
        SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd))));
    // The pointer's position with each frame, and with buffers that carry nothing else.
    params[1] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
        SPA_POD_Id(SPA_META_Cursor), SPA_PARAM_META_size,
        SPA_POD_CHOICE_RANGE_Int(cursorMetaSize(384, 384), SmallestCursorMeta, LargestCursorMeta)));
    params[2] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
        SPA_POD_Id(SPA_META_Header), SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_header))));
    pw_stream_update_params(s->stream, params, 3);
  }

  static void onRemoveBuffer(void* data, pw_buffer* buffer) {
    auto* s = static_cast<StreamState*>(data);
    if (s->held == buffer) s->held = nullptr;
  }

  // Where the buffer's picture lies, when it has one that fits its memory. One that does not
  // is passed over, counted, and told of once.
  static std::optional<FrameLayout> pictureIn(StreamState& s, const pw_buffer* b) {
    const spa_buffer* buf = b->buffer;
    if (buf->n_datas < 1 || !buf->datas[0].data || !buf->datas[0].chunk) return std::nullopt;
    const spa_data& d = buf->datas[0];
    const spa_chunk chunk = *d.chunk;  // read once: the producer may write it meanwhile
    if (chunk.size == 0 || (chunk.flags & SPA_CHUNK_FLAG_CORRUPTED)) return std::nullopt;
    const auto* header = static_cast<spa_meta_header*>(
        spa_buffer_find_meta_data(buf, SPA_META_Header, sizeof(spa_meta_header)));
    if (header && (header->flags & SPA_META_HEADER_FLAG_CORRUPTED)) return std::nullopt;
    const auto layout =
        frameLayout(d.maxsize, chunk.offset, chunk.stride, chunk.size, s.place.frame);
    if (!layout && s.owner->skipped++ == 0)
      qCWarning(lcPortal).nospace()
          << "A frame that does not fit its buffer was passed over, and any more will be: "
          << "offset " << chunk.offset << ", stride " << chunk.stride << ", size " << chunk.size
          << " in " << d.maxsize << " bytes, for " << s.place.frame.width() << "x"
          << s.place.frame.height() << " pixels";
    return layout;
  }

  static void onProcess(void* data) {
    auto* s = static_cast<StreamState*>(data);
    // Frames come only when the screen changes: the newest one stays, older ones go back.
    pw_buffer* newest = nullptr;
    FrameLayout layout;
    while (pw_buffer* b = pw_stream_dequeue_buffer(s->stream)) {
      s->owner->fresh = true;
      spa_meta* meta = spa_buffer_find_meta(b->buffer, SPA_META_Cursor);
      if (meta) {
        const auto* cursor = static_cast<const spa_meta_cursor*>(meta->data);
        if (const auto at = cursorIn(cursor, meta->size, s->place.frame))
          s->owner->pointer = s->place.toDesktop(*at);
      }
      if (const auto picture = pictureIn(*s, b)) {
        if (newest) pw_stream_queue_buffer(s->stream, newest);
        newest = b;
        layout = *picture;
      } else {
        pw_stream_queue_buffer(s->stream, b);  // a pointer update only, or nothing to show
      }
    }
    if (newest) {
      if (s->held) pw_stream_queue_buffer(s->stream, s->held);
      s->held = newest;
      s->layout = layout;
      ++s->owner->pictures;
    }
  }

  static void onCoreError(void* data, std::uint32_t id, int, int res, const char* message) {
    if (id != PW_ID_CORE) return;
    static WarningGate gate;  // the remote went away
    if (gate.pass())
      qCWarning(lcPortal) << "The PipeWire remote failed:" << (message ? message : "")
                          << spa_strerror(res) << gate.note();
    static_cast<Impl*>(data)->end();
  }

  static void onGlobalRemove(void* data, std::uint32_t id) {
    auto* d = static_cast<Impl*>(data);
    for (const auto& s : d->streams)
      if (s->node == id) d->end();  // a monitor's stream is gone
  }

  static const pw_stream_events* streamEvents() {
    static const pw_stream_events events = [] {
      pw_stream_events e{};
      e.version = PW_VERSION_STREAM_EVENTS;
      e.state_changed = onStreamState;
      e.param_changed = onStreamParam;
      e.remove_buffer = onRemoveBuffer;
      e.process = onProcess;
      return e;
    }();
    return &events;
  }

  static const pw_core_events* coreEvents() {
    static const pw_core_events events = [] {
      pw_core_events e{};
      e.version = PW_VERSION_CORE_EVENTS;
      e.error = onCoreError;
      return e;
    }();
    return &events;
  }

  static const pw_registry_events* registryEvents() {
    static const pw_registry_events events = [] {
      pw_registry_events e{};
      e.version = PW_VERSION_REGISTRY_EVENTS;
      e.global_remove = onGlobalRemove;
      return e;
    }();
    return &events;
  }
};

PipeWireCapture::PipeWireCapture(Descriptor remote, const std::vector<Stream>& streams,
                                 std::function<void()> ended, std::function<void()> arrived)
    : d_(std::make_unique<Impl>()) {
  d_->ended = std::move(ended);
  d_->arrived = std::move(arrived);
  d_->stall.setSingleShot(true);
  d_->stall.setTimerType(Qt::PreciseTimer);  // a coarse one may end a cast still starting early
  QObject::connect(&d_->stall, &QTimer::timeout, &d_->context_, [this] { d_->stalled(); });
  pw_init(nullptr, nullptr);
  d_->loop = pw_loop_new(nullptr);
  pw_loop_enter(d_->loop);
  d_->context = pw_context_new(d_->loop, nullptr, 0);
  if (!d_->context) {
    qCWarning(lcPortal) << "PipeWire could not make a context:"
                        << std::generic_category().message(errno).c_str();
    d_->end();
    return;
  }
  // PipeWire closes the descriptor from a successful connection on; a failed one leaves it
  // here, to be closed with `remote`.
  d_->core = pw_context_connect_fd(d_->context, remote.get(), nullptr, 0);
  if (!d_->core) {
    qCWarning(lcPortal) << "PipeWire could not connect to the portal's remote:"
                        << std::generic_category().message(errno).c_str();
    d_->end();
    return;
  }
  remote.release();
  pw_core_add_listener(d_->core, &d_->coreListener, Impl::coreEvents(), d_.get());
  d_->registry = pw_core_get_registry(d_->core, PW_VERSION_REGISTRY, 0);
  pw_registry_add_listener(d_->registry, &d_->registryListener, Impl::registryEvents(), d_.get());

  for (const Stream& wanted : streams) {
    auto s = std::make_unique<Impl::StreamState>();
    s->owner = d_.get();
    s->node = wanted.node;
    s->place = {wanted.onDesktop, QSize(wanted.onDesktop.width(), wanted.onDesktop.height())};
    s->stream = pw_stream_new(d_->core, "Vendrel",
                              pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                                "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
    if (!s->stream) {
      qCWarning(lcPortal) << "PipeWire could not make a stream:"
                          << std::generic_category().message(errno).c_str();
      d_->end();
      break;
    }
    pw_stream_add_listener(s->stream, &s->listener, Impl::streamEvents(), s.get());

    std::uint8_t buffer[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    const spa_rectangle size{1920, 1080}, smallest{1, 1}, largest{16384, 16384};
    const spa_fraction variable{0, 1}, fastest{30, 1}, slowest{1, 1};
    // Raw 32-bit pixels, at most thirty frames a second: the view shows twenty.
    const spa_pod* format = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
        SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
        SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx,
                               SPA_VIDEO_FORMAT_BGRA, SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA),
        SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&size, &smallest, &largest),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&variable, &variable, &fastest),
        SPA_FORMAT_VIDEO_maxFramerate,
        SPA_POD_CHOICE_RANGE_Fraction(&fastest, &slowest, &fastest)));
    if (pw_stream_connect(
            s->stream, PW_DIRECTION_INPUT, wanted.node,
            static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS),
            &format, 1) < 0) {
      qCWarning(lcPortal) << "PipeWire could not connect to node" << wanted.node;
      d_->end();
    }
    d_->streams.push_back(std::move(s));
  }

  // PipeWire's loop is a descriptor that becomes readable when it has work: Qt's loop runs it.
  d_->watchStall();
  d_->notifier = std::make_unique<QSocketNotifier>(pw_loop_get_fd(d_->loop), QSocketNotifier::Read);
  QObject::connect(d_->notifier.get(), &QSocketNotifier::activated, &d_->context_,
                   [this] { d_->iterate(); });
  d_->iterate();
}

PipeWireCapture::~PipeWireCapture() {
  if (d_->skipped > 0)
    qCWarning(lcPortal) << d_->skipped << "frames that did not fit their buffers were passed over";
  d_->notifier.reset();
  for (auto& s : d_->streams)
    if (s->stream) {
      spa_hook_remove(&s->listener);  // going on purpose: no stop to tell of
      pw_stream_destroy(s->stream);
    }
  d_->streams.clear();
  if (d_->registry) pw_proxy_destroy(reinterpret_cast<pw_proxy*>(d_->registry));
  if (d_->core) pw_core_disconnect(d_->core);
  if (d_->context) pw_context_destroy(d_->context);
  pw_loop_leave(d_->loop);
  pw_loop_destroy(d_->loop);
}

std::optional<QPoint> PipeWireCapture::pointer() const {
  return d_->pointer;
}

bool PipeWireCapture::streaming() const {
  return !d_->streams.empty() && !d_->notStreaming();
}

bool PipeWireCapture::pictured(const Rect& area) const {
  int stride = 0;
  for (const auto& s : d_->streams)
    if (!s->place.onDesktop.intersected(area).isEmpty() && !Impl::pixels(*s, &stride)) return false;
  return !d_->streams.empty();
}

std::uint64_t PipeWireCapture::skipped() const {
  return d_->skipped;
}

std::vector<Rect> PipeWireCapture::monitors() const {
  std::vector<Rect> out;
  for (const auto& s : d_->streams) out.push_back(s->place.onDesktop);
  return out;
}

Rect PipeWireCapture::desktopBounds() {
  Rect all;
  for (const auto& s : d_->streams) {
    const Rect& r = s->place.onDesktop;
    all = all.isEmpty() ? r
                        : Rect{std::min(all.left, r.left), std::min(all.top, r.top),
                               std::max(all.right, r.right), std::max(all.bottom, r.bottom)};
  }
  return all;
}

bool PipeWireCapture::unchanged(const Rect& area) {
  if (area != d_->readArea || d_->read.empty()) return false;
  if (d_->pictures == d_->picturesRead) return true;
  // New frames, but a frame is the whole monitor: the part read may be just as it was.
  std::swap(d_->read, d_->previous);
  capture(area);
  return d_->read == d_->previous;
}

CapturedPixels PipeWireCapture::capture(const Rect& area) {
  const auto unscaled = [](const Impl::StreamState& s) {
    return s.place.frame == QSize(s.place.onDesktop.width(), s.place.onDesktop.height());
  };
  // Within one unscaled monitor whose frames need no conversion: the frame itself.
  if (const auto* s = d_->holding(area);
      s && s->held && unscaled(*s) &&
      (s->format == FrameFormat::BGRx || s->format == FrameFormat::BGRA)) {
    int stride = 0;
    const std::uint8_t* bits = Impl::pixels(*s, &stride);
    const QPoint at(area.left - s->place.onDesktop.left, area.top - s->place.onDesktop.top);
    if (bits && stride % 4 == 0)
      return d_->keep({reinterpret_cast<const std::uint32_t*>(
                           bits + static_cast<std::ptrdiff_t>(at.y()) * stride) +
                           at.x(),
                       stride / 4, area});
  }
  // Otherwise pixel by pixel from whichever monitor shows it, black where none does.
  const auto w = static_cast<std::size_t>(area.width());
  d_->scratch.assign(w * static_cast<std::size_t>(area.height()), 0);
  for (const auto& s : d_->streams) {
    const Rect part = s->place.onDesktop.intersected(area);
    int stride = 0;
    const std::uint8_t* bits = Impl::pixels(*s, &stride);
    if (part.isEmpty() || !bits) continue;
    for (int y = part.top; y < part.bottom; ++y) {
      std::uint32_t* out = d_->scratch.data() + (y - area.top) * w + (part.left - area.left);
      if (unscaled(*s)) {
        const QPoint f = s->place.toFrame({part.left, y});
        toXrgb(s->format,
               bits + static_cast<std::ptrdiff_t>(f.y()) * stride +
                   static_cast<std::ptrdiff_t>(f.x()) * 4,
               out, part.width());
        continue;
      }
      for (int x = part.left; x < part.right; ++x, ++out) {
        const QPoint f = s->place.toFrame({x, y});
        if (f.x() >= s->place.frame.width() || f.y() >= s->place.frame.height()) continue;
        toXrgb(s->format,
               bits + static_cast<std::ptrdiff_t>(f.y()) * stride +
                   static_cast<std::ptrdiff_t>(f.x()) * 4,
               out, 1);
      }
    }
  }
  return d_->keep({d_->scratch.data(), area.width(), area});
}
