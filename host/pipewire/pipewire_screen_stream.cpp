#include "host/pipewire/pipewire_screen_stream.hpp"

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <unistd.h>

#include <array>
#include <stdexcept>

namespace glidemate::host {
namespace {

// Room for the cursor's picture beside its position; compositors fix the
// size (GNOME asks for 384 x 384), so any reasonable one is accepted.
constexpr std::uint32_t cursorMetaSize(std::uint32_t side) {
  return sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap) + side * side * 4;
}

// PipeWire's listener macro casts the C way.
void addCoreListener(pw_core* core, spa_hook* hook, const pw_core_events* events, void* data) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"
  pw_core_add_listener(core, hook, events, data);
#pragma GCC diagnostic pop
}

// One pixel of a cursor bitmap as premultiplied ARGB, from the byte order
// its format names; nothing for a format no compositor uses for cursors.
std::optional<std::uint32_t> argbPixel(std::uint32_t format, const std::uint8_t* p) {
  const auto pack = [](std::uint32_t a, std::uint32_t r, std::uint32_t g, std::uint32_t b) {
    return (a << 24) | (r << 16) | (g << 8) | b;
  };
  switch (format) {
    case SPA_VIDEO_FORMAT_RGBA: return pack(p[3], p[0], p[1], p[2]);
    case SPA_VIDEO_FORMAT_BGRA: return pack(p[3], p[2], p[1], p[0]);
    case SPA_VIDEO_FORMAT_ARGB: return pack(p[0], p[1], p[2], p[3]);
    case SPA_VIDEO_FORMAT_ABGR: return pack(p[0], p[3], p[2], p[1]);
    default: return std::nullopt;
  }
}

// The picture a cursor meta carries, if it carries one; `metaSize` bounds
// what may be read.
std::optional<PipeWireScreenStream::CursorPicture> cursorPicture(const spa_meta_cursor& cursor, std::uint32_t metaSize) {
  if (cursor.bitmap_offset < sizeof(spa_meta_cursor) ||
      static_cast<std::uint64_t>(cursor.bitmap_offset) + sizeof(spa_meta_bitmap) > metaSize) {
    return std::nullopt;
  }
  const auto* base = reinterpret_cast<const std::uint8_t*>(&cursor);
  const auto* bitmap = reinterpret_cast<const spa_meta_bitmap*>(base + cursor.bitmap_offset);
  PipeWireScreenStream::CursorPicture picture;
  const auto width = bitmap->size.width, height = bitmap->size.height;
  const auto stride = static_cast<std::uint64_t>(bitmap->stride);
  const std::uint64_t end = static_cast<std::uint64_t>(cursor.bitmap_offset) + bitmap->offset + stride * height;
  // A picture of no size hides the cursor.
  if (width == 0 || height == 0 || bitmap->offset < sizeof(spa_meta_bitmap) || stride < width * 4ULL ||
      end > metaSize) {
    return picture;
  }
  const std::uint8_t* pixels = base + cursor.bitmap_offset + bitmap->offset;
  picture.pixels.reserve(static_cast<std::size_t>(width) * height);
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      const auto pixel = argbPixel(bitmap->format, pixels + y * stride + x * 4);
      if (!pixel) return PipeWireScreenStream::CursorPicture{};
      picture.pixels.push_back(*pixel);
    }
  }
  picture.width = static_cast<int>(width);
  picture.height = static_cast<int>(height);
  picture.hotX = cursor.hotspot.x;
  picture.hotY = cursor.hotspot.y;
  return picture;
}

}  // namespace

struct PipeWireScreenStream::State {
  Options options;
  Callbacks callbacks;
  pw_thread_loop* loop = nullptr;
  pw_context* context = nullptr;
  pw_core* core = nullptr;
  pw_stream* stream = nullptr;
  spa_hook coreListener{};
  spa_hook streamListener{};
  spa_video_info_raw format{};
  bool ended = false;

  State(Options o, Callbacks c) : options(o), callbacks(std::move(c)) {}

  // Disconnects and lets the thread go; safe on a partly built state.
  void teardown() {
    if (loop == nullptr) return;
    pw_thread_loop_lock(loop);
    if (stream != nullptr) {
      spa_hook_remove(&streamListener);
      pw_stream_destroy(stream);
      stream = nullptr;
    }
    if (core != nullptr) {
      spa_hook_remove(&coreListener);
      pw_core_disconnect(core);
      core = nullptr;
    }
    pw_thread_loop_unlock(loop);
    pw_thread_loop_stop(loop);
    if (context != nullptr) pw_context_destroy(context);
    context = nullptr;
    pw_thread_loop_destroy(loop);
    loop = nullptr;
  }

  void end(const std::string& reason) {
    if (ended) return;
    ended = true;
    if (callbacks.ended) callbacks.ended(reason);
  }

  static void onCoreError(void* data, std::uint32_t id, int, int, const char* message) {
    auto* self = static_cast<State*>(data);
    if (id == PW_ID_CORE) self->end(std::string("PipeWire: ") + (message != nullptr ? message : "error"));
  }

  static void onStateChanged(void* data, pw_stream_state, pw_stream_state state, const char* error) {
    auto* self = static_cast<State*>(data);
    if (state == PW_STREAM_STATE_ERROR) {
      self->end(std::string("the screen-cast stream failed: ") + (error != nullptr ? error : "unknown error"));
    } else if (state == PW_STREAM_STATE_UNCONNECTED) {
      self->end("the screen-cast stream ended");
    }
  }

  static void onParamChanged(void* data, std::uint32_t id, const spa_pod* param) {
    auto* self = static_cast<State*>(data);
    if (param == nullptr || id != SPA_PARAM_Format) return;
    std::uint32_t mediaType = 0, mediaSubtype = 0;
    if (spa_format_parse(param, &mediaType, &mediaSubtype) < 0 || mediaType != SPA_MEDIA_TYPE_video ||
        mediaSubtype != SPA_MEDIA_SUBTYPE_raw) {
      return;
    }
    if (spa_format_video_raw_parse(param, &self->format) < 0) return;

    std::array<std::uint8_t, 1024> buffer{};
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer.data(), static_cast<std::uint32_t>(buffer.size()));
    std::array<const spa_pod*, 3> params{};
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
        SPA_POD_CHOICE_RANGE_Int(4, 2, 8), SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd))));
    params[1] = static_cast<const spa_pod*>(
        spa_pod_builder_add_object(&b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
                                   SPA_POD_Id(SPA_META_Header), SPA_PARAM_META_size,
                                   SPA_POD_Int(sizeof(spa_meta_header))));
    params[2] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Cursor),
        SPA_PARAM_META_size,
        SPA_POD_CHOICE_RANGE_Int(cursorMetaSize(384), cursorMetaSize(1), cursorMetaSize(1024))));
    pw_stream_update_params(self->stream, params.data(), static_cast<std::uint32_t>(params.size()));
  }

  static void onProcess(void* data) {
    auto* self = static_cast<State*>(data);
    // Only the newest buffer matters: older ones go straight back.
    pw_buffer* newest = nullptr;
    while (pw_buffer* b = pw_stream_dequeue_buffer(self->stream)) {
      if (newest != nullptr) pw_stream_queue_buffer(self->stream, newest);
      newest = b;
    }
    if (newest == nullptr) return;
    self->read(*newest->buffer);
    pw_stream_queue_buffer(self->stream, newest);
  }

  void read(spa_buffer& buffer) {
    const auto* header = static_cast<const spa_meta_header*>(
        spa_buffer_find_meta_data(&buffer, SPA_META_Header, sizeof(spa_meta_header)));
    if (header != nullptr && (header->flags & SPA_META_HEADER_FLAG_CORRUPTED) != 0) return;

    const int width = static_cast<int>(format.size.width), height = static_cast<int>(format.size.height);
    const spa_meta* meta = spa_buffer_find_meta(&buffer, SPA_META_Cursor);
    if (meta != nullptr && meta->data != nullptr && meta->size >= sizeof(spa_meta_cursor)) {
      const auto* cursor = static_cast<const spa_meta_cursor*>(meta->data);
      Cursor c{std::nullopt, width, height, std::nullopt};
      if (spa_meta_cursor_is_valid(cursor)) {
        c.position = std::pair{cursor->position.x, cursor->position.y};
        c.picture = cursorPicture(*cursor, meta->size);
      }
      if (callbacks.cursor) callbacks.cursor(c);
    }

    if (!callbacks.frame || buffer.n_datas < 1) return;
    const spa_data& d = buffer.datas[0];
    // A buffer with no pixels only moved the cursor.
    if (d.data == nullptr || d.chunk == nullptr || d.chunk->size == 0) return;
    if (format.format != SPA_VIDEO_FORMAT_BGRx && format.format != SPA_VIDEO_FORMAT_BGRA) return;
    const int stride = d.chunk->stride != 0 ? d.chunk->stride : width * 4;
    const std::uint64_t needed = static_cast<std::uint64_t>(d.chunk->offset) + static_cast<std::uint64_t>(stride) * height;
    if (stride < width * 4 || needed > d.maxsize) return;
    const Frame frame{static_cast<const std::uint8_t*>(d.data) + d.chunk->offset, width, height, stride};
    callbacks.frame(frame);
  }
};

PipeWireScreenStream::PipeWireScreenStream(Options options, Callbacks callbacks)
    : state_(std::make_unique<State>(options, std::move(callbacks))) {
  pw_init(nullptr, nullptr);
  State& s = *state_;
  s.loop = pw_thread_loop_new("glidemate-screencast", nullptr);
  if (s.loop == nullptr) throw std::runtime_error("PipeWire: no thread loop");
  s.context = pw_context_new(pw_thread_loop_get_loop(s.loop), nullptr, 0);
  if (s.context == nullptr) {
    s.teardown();
    throw std::runtime_error("PipeWire: no context");
  }
  if (pw_thread_loop_start(s.loop) < 0) {
    s.teardown();
    throw std::runtime_error("PipeWire: its thread did not start");
  }

  static const pw_core_events coreEvents = [] {
    pw_core_events e{};
    e.version = PW_VERSION_CORE_EVENTS;
    e.error = &State::onCoreError;
    return e;
  }();
  static const pw_stream_events streamEvents = [] {
    pw_stream_events e{};
    e.version = PW_VERSION_STREAM_EVENTS;
    e.state_changed = &State::onStateChanged;
    e.param_changed = &State::onParamChanged;
    e.process = &State::onProcess;
    return e;
  }();

  pw_thread_loop_lock(s.loop);
  s.core = options.remoteFd >= 0 ? pw_context_connect_fd(s.context, options.remoteFd, nullptr, 0)
                                 : pw_context_connect(s.context, nullptr, 0);
  if (s.core == nullptr) {
    pw_thread_loop_unlock(s.loop);
    s.teardown();
    if (options.remoteFd >= 0) ::close(options.remoteFd);
    throw std::runtime_error("PipeWire: the daemon can't be reached");
  }
  addCoreListener(s.core, &s.coreListener, &coreEvents, &s);
  s.stream = pw_stream_new(s.core, "glidemate-screencast",
                           pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                                             PW_KEY_MEDIA_ROLE, "Screen", nullptr));
  pw_stream_add_listener(s.stream, &s.streamListener, &streamEvents, &s);

  std::array<std::uint8_t, 1024> buffer{};
  spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer.data(), static_cast<std::uint32_t>(buffer.size()));
  spa_rectangle defaultSize = SPA_RECTANGLE(1440, 900), minSize = SPA_RECTANGLE(1, 1),
                maxSize = SPA_RECTANGLE(16384, 16384);
  spa_fraction variable = SPA_FRACTION(0, 1), maxRate = SPA_FRACTION(static_cast<std::uint32_t>(options.maxFramesPerSecond), 1),
               minRate = SPA_FRACTION(1, 1);
  const spa_pod* format = static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
      SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
      SPA_POD_CHOICE_ENUM_Id(3, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA),
      SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&defaultSize, &minSize, &maxSize),
      SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&variable), SPA_FORMAT_VIDEO_maxFramerate,
      SPA_POD_CHOICE_RANGE_Fraction(&maxRate, &minRate, &maxRate)));
  const int connected = pw_stream_connect(
      s.stream, PW_DIRECTION_INPUT, options.nodeId,
      static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS), &format, 1);
  pw_thread_loop_unlock(s.loop);
  if (connected < 0) {
    s.teardown();
    throw std::runtime_error("PipeWire: could not connect to the screen-cast stream");
  }
}

PipeWireScreenStream::~PipeWireScreenStream() { state_->teardown(); }

}  // namespace glidemate::host
