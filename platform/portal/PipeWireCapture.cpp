#include "platform/portal/PipeWireCapture.h"

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cstring>

#include "platform/portal/Frames.h"

namespace {

// Room for the pointer's metadata with a picture of w x h pixels. Only the position is read,
// but PipeWire drops the metadata altogether unless the room asked for and the room the
// compositor offers overlap: mutter 43 offers exactly 384 x 384, KWin 5.27 exactly 256 x 256.
// Any room from none for a picture up to 1024 x 1024 is taken, the compositor's choice.
constexpr std::uint32_t cursorMetaSize(int w, int h) {
  return static_cast<std::uint32_t>(sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap) + w * h * 4);
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
    pw_buffer* held = nullptr;  // the latest frame, kept until a newer one comes
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
  std::function<void()> ended;
  bool endPosted = false;
  std::optional<QPoint> pointer;
  std::vector<std::uint32_t> scratch;

  void end() {
    if (endPosted) return;
    endPosted = true;
    QTimer::singleShot(0, &context_, [this] {
      if (ended) ended();
    });
  }

  const StreamState* holding(const Rect& area) const {
    for (const auto& s : streams)
      if (s->place.onDesktop.intersected(area) == area) return s.get();
    return nullptr;
  }

  static const std::uint8_t* pixels(const StreamState& s, int* stride) {
    if (!s.held) return nullptr;
    const spa_data& d = s.held->buffer->datas[0];
    *stride = d.chunk->stride > 0 ? d.chunk->stride : s.place.frame.width() * 4;
    return static_cast<const std::uint8_t*>(d.data) + d.chunk->offset;
  }

  // ---- PipeWire's callbacks ------------------------------------------------------------------

  static void onStreamState(void* data, pw_stream_state, pw_stream_state state, const char*) {
    auto* s = static_cast<StreamState*>(data);
    if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED) s->owner->end();
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

  static bool hasPicture(const pw_buffer* b) {
    const spa_buffer* buf = b->buffer;
    if (buf->n_datas < 1 || !buf->datas[0].data || !buf->datas[0].chunk) return false;
    const spa_chunk* chunk = buf->datas[0].chunk;
    if (chunk->size == 0 || (chunk->flags & SPA_CHUNK_FLAG_CORRUPTED)) return false;
    const auto* header = static_cast<spa_meta_header*>(
        spa_buffer_find_meta_data(buf, SPA_META_Header, sizeof(spa_meta_header)));
    return !header || !(header->flags & SPA_META_HEADER_FLAG_CORRUPTED);
  }

  static void onProcess(void* data) {
    auto* s = static_cast<StreamState*>(data);
    // Frames come only when the screen changes: the newest one stays, older ones go back.
    pw_buffer* newest = nullptr;
    while (pw_buffer* b = pw_stream_dequeue_buffer(s->stream)) {
      spa_meta* meta = spa_buffer_find_meta(b->buffer, SPA_META_Cursor);
      if (meta) {
        const auto* cursor = static_cast<const spa_meta_cursor*>(meta->data);
        if (const auto at = cursorIn(cursor, meta->size, s->place.frame))
          s->owner->pointer = s->place.toDesktop(*at);
      }
      if (hasPicture(b)) {
        if (newest) pw_stream_queue_buffer(s->stream, newest);
        newest = b;
      } else {
        pw_stream_queue_buffer(s->stream, b);  // a pointer update only
      }
    }
    if (newest) {
      if (s->held) pw_stream_queue_buffer(s->stream, s->held);
      s->held = newest;
    }
  }

  static void onCoreError(void* data, std::uint32_t id, int, int, const char*) {
    if (id == PW_ID_CORE) static_cast<Impl*>(data)->end();  // the remote went away
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

PipeWireCapture::PipeWireCapture(int fd, const std::vector<Stream>& streams,
                                 std::function<void()> ended)
    : d_(std::make_unique<Impl>()) {
  d_->ended = std::move(ended);
  pw_init(nullptr, nullptr);
  d_->loop = pw_loop_new(nullptr);
  pw_loop_enter(d_->loop);
  d_->context = pw_context_new(d_->loop, nullptr, 0);
  d_->core = d_->context ? pw_context_connect_fd(d_->context, fd, nullptr, 0) : nullptr;
  if (!d_->core) {
    d_->end();
    return;
  }
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
            &format, 1) < 0)
      d_->end();
    d_->streams.push_back(std::move(s));
  }

  // PipeWire's loop is a descriptor that becomes readable when it has work: Qt's loop runs it.
  d_->notifier = std::make_unique<QSocketNotifier>(pw_loop_get_fd(d_->loop), QSocketNotifier::Read);
  QObject::connect(d_->notifier.get(), &QSocketNotifier::activated, &d_->context_,
                   [this] { pw_loop_iterate(d_->loop, 0); });
  pw_loop_iterate(d_->loop, 0);
}

PipeWireCapture::~PipeWireCapture() {
  d_->notifier.reset();
  for (auto& s : d_->streams)
    if (s->stream) pw_stream_destroy(s->stream);
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
    if (stride % 4 == 0)
      return {reinterpret_cast<const std::uint32_t*>(bits + at.y() * stride) + at.x(), stride / 4,
              area};
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
        toXrgb(s->format, bits + f.y() * stride + f.x() * 4, out, part.width());
        continue;
      }
      for (int x = part.left; x < part.right; ++x, ++out) {
        const QPoint f = s->place.toFrame({x, y});
        if (f.x() >= s->place.frame.width() || f.y() >= s->place.frame.height()) continue;
        toXrgb(s->format, bits + f.y() * stride + f.x() * 4, out, 1);
      }
    }
  }
  return {d_->scratch.data(), area.width(), area};
}
