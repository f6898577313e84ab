#include "host/services/audio/pulse/pulse_audio_output.hpp"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/subscribe.h>
#include <pulse/thread-mainloop.h>

#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <map>
#include <stdexcept>

#include "host/services/audio/pulse/pulse_volume.hpp"
#include "kit/runtime/notifier.hpp"

namespace glidemate::host {
namespace {

constexpr std::string_view category = "audio";

struct Reply {
  bool ok = false;
  std::optional<AudioOutput::Device> device;
};

enum class Kind { readDefault, setVolume, setMuted };

}  // namespace

// Everything here lives on the main executor, except Link and Request,
// which belong to libpulse's thread: they are touched only with the loop's
// lock held, and what they learn reaches the Core by a post.
struct PulseAudioOutput::Core : std::enable_shared_from_this<Core> {
  struct Link;

  // One request to the server, from its first call to its last callback.
  struct Request {
    Link* link;
    std::uint64_t id;
    Kind kind;
    std::uint32_t sink;
    float level;
    bool muted;
    // The write has been sent after reading the sink.
    bool writing = false;
    std::optional<AudioOutput::Device> found;
  };

  // One connection (or attempt) to a server: its context and the requests
  // still waiting for libpulse's callbacks.
  struct Link {
    pa_context* context;
    asio::any_io_executor executor;
    std::weak_ptr<Core> core;
    std::uint64_t generation;
    std::map<std::uint64_t, std::unique_ptr<Request>> requests;

    template <class F>
    void post(F f) {
      asio::post(executor, [core = core, f = std::move(f)]() mutable {
        if (auto c = core.lock()) f(*c);
      });
    }
  };

  // A request as its caller awaits it.
  struct Pending {
    explicit Pending(const asio::any_io_executor& executor) : done(executor) {}
    Notifier done;
    std::optional<Reply> reply;
  };

  Core(const asio::any_io_executor& e, Logger& l, Options o)
      : executor(e), logger(l), options(std::move(o)), retry(e), settled(e) {}

  asio::any_io_executor executor;
  Logger& logger;
  Options options;
  pa_threaded_mainloop* loop = nullptr;
  std::unique_ptr<Link> link;
  bool ready = false;
  bool closed = false;
  bool reportedMissing = false;
  std::uint64_t generation = 0;
  std::uint64_t nextRequest = 0;
  std::map<std::uint64_t, std::shared_ptr<Pending>> pending;
  std::function<void()> watcher;
  asio::steady_timer retry;
  // Told when a connection under way is made or fails.
  Notifier settled;

  void start();
  void close();
  void connect();
  void dropLink();
  void failAll();
  void notify();
  void stateChanged(std::uint64_t of, pa_context_state_t state, const std::string& error);
  void complete(std::uint64_t id, Reply reply);
  asio::awaitable<void> untilSettled();
  asio::awaitable<Reply> ask(Kind kind, std::uint32_t sink = 0, float level = 0, bool muted = false);

  // libpulse's callbacks, on its thread with the lock held.
  static void finish(Request* request, Reply reply);
  static pa_operation* begin(pa_context* context, Request* request);
  static void onState(pa_context* context, void* userdata);
  static void onEvent(pa_context* context, pa_subscription_event_type_t type, std::uint32_t index, void* userdata);
  static void onServerInfo(pa_context* context, const pa_server_info* info, void* userdata);
  static void onDefaultSink(pa_context* context, const pa_sink_info* sink, int eol, void* userdata);
  static void onSinkToSet(pa_context* context, const pa_sink_info* sink, int eol, void* userdata);
  static void onWritten(pa_context* context, int success, void* userdata);
};

void PulseAudioOutput::Core::finish(Request* request, Reply reply) {
  Link* link = request->link;
  const std::uint64_t id = request->id;
  link->post([id, reply = std::move(reply)](Core& core) mutable { core.complete(id, std::move(reply)); });
  link->requests.erase(id);
}

pa_operation* PulseAudioOutput::Core::begin(pa_context* context, Request* request) {
  switch (request->kind) {
    case Kind::readDefault:
      return pa_context_get_server_info(context, onServerInfo, request);
    case Kind::setVolume:
      // Read first: the new volume keeps the sink's current balance.
      return pa_context_get_sink_info_by_index(context, request->sink, onSinkToSet, request);
    case Kind::setMuted:
      return pa_context_set_sink_mute_by_index(context, request->sink, request->muted ? 1 : 0, onWritten, request);
  }
  return nullptr;
}

void PulseAudioOutput::Core::onState(pa_context* context, void* userdata) {
  auto* link = static_cast<Link*>(userdata);
  const pa_context_state_t state = pa_context_get_state(context);
  if (state == PA_CONTEXT_READY) {
    const auto mask = static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SERVER);
    if (pa_operation* op = pa_context_subscribe(context, mask, nullptr, nullptr)) pa_operation_unref(op);
  } else if (state != PA_CONTEXT_FAILED && state != PA_CONTEXT_TERMINATED) {
    return;
  }
  std::string error = state == PA_CONTEXT_READY ? std::string() : pa_strerror(pa_context_errno(context));
  link->post([of = link->generation, state, error = std::move(error)](Core& core) {
    core.stateChanged(of, state, error);
  });
}

void PulseAudioOutput::Core::onEvent(pa_context*, pa_subscription_event_type_t, std::uint32_t, void* userdata) {
  auto* link = static_cast<Link*>(userdata);
  link->post([of = link->generation](Core& core) {
    if (core.link && core.link->generation == of) core.notify();
  });
}

void PulseAudioOutput::Core::onServerInfo(pa_context* context, const pa_server_info* info, void* userdata) {
  auto* request = static_cast<Request*>(userdata);
  if (info == nullptr) return finish(request, Reply{});
  // A server without sinks has no default one.
  if (info->default_sink_name == nullptr || *info->default_sink_name == '\0') {
    return finish(request, Reply{true, std::nullopt});
  }
  pa_operation* op = pa_context_get_sink_info_by_name(context, info->default_sink_name, onDefaultSink, request);
  if (op == nullptr) return finish(request, Reply{});
  pa_operation_unref(op);
}

void PulseAudioOutput::Core::onDefaultSink(pa_context*, const pa_sink_info* sink, int eol, void* userdata) {
  auto* request = static_cast<Request*>(userdata);
  if (sink != nullptr) {
    request->found = PulseVolume::deviceOf(*sink);
    return;
  }
  // The end of the list; or an error, when the default sink went away
  // between the two questions: then there is none.
  finish(request, Reply{true, eol > 0 ? request->found : std::nullopt});
}

void PulseAudioOutput::Core::onSinkToSet(pa_context* context, const pa_sink_info* sink, int, void* userdata) {
  auto* request = static_cast<Request*>(userdata);
  // The list's end comes right after the sink, before the write's answer.
  if (request->writing) return;
  if (sink == nullptr || pa_cvolume_valid(&sink->volume) == 0) return finish(request, Reply{});
  const pa_cvolume volume = PulseVolume::withAverageLevel(sink->volume, request->level);
  pa_operation* op = pa_context_set_sink_volume_by_index(context, sink->index, &volume, onWritten, request);
  if (op == nullptr) return finish(request, Reply{});
  request->writing = true;
  pa_operation_unref(op);
}

void PulseAudioOutput::Core::onWritten(pa_context*, int success, void* userdata) {
  finish(static_cast<Request*>(userdata), Reply{success != 0, std::nullopt});
}

void PulseAudioOutput::Core::start() {
  loop = pa_threaded_mainloop_new();
  if (loop == nullptr) throw std::runtime_error("libpulse could not make its main loop");
  pa_threaded_mainloop_set_name(loop, "glidemate-pulse");
  if (pa_threaded_mainloop_start(loop) < 0) {
    pa_threaded_mainloop_free(loop);
    loop = nullptr;
    throw std::runtime_error("libpulse could not start its main loop");
  }
  connect();
}

void PulseAudioOutput::Core::close() {
  closed = true;
  retry.cancel();
  ready = false;
  dropLink();
  failAll();
  settled.notifyAll();
  if (loop != nullptr) {
    pa_threaded_mainloop_stop(loop);
    pa_threaded_mainloop_free(loop);
    loop = nullptr;
  }
}

void PulseAudioOutput::Core::connect() {
  if (closed || link) return;
  pa_threaded_mainloop_lock(loop);
  pa_context* context = pa_context_new(pa_threaded_mainloop_get_api(loop), "Glidemate");
  std::string error = "libpulse could not make a context";
  int result = -1;
  if (context != nullptr) {
    link = std::make_unique<Link>(Link{context, executor, weak_from_this(), ++generation, {}});
    pa_context_set_state_callback(context, onState, link.get());
    pa_context_set_subscribe_callback(context, onEvent, link.get());
    const char* server = options.server.empty() ? nullptr : options.server.c_str();
    result = pa_context_connect(context, server, PA_CONTEXT_NOAUTOSPAWN, nullptr);
    if (result < 0) error = pa_strerror(pa_context_errno(context));
  }
  pa_threaded_mainloop_unlock(loop);
  if (context == nullptr) {
    // Without a context there is no state callback to report this.
    stateChanged(0, PA_CONTEXT_FAILED, error);
  } else if (result < 0) {
    stateChanged(generation, PA_CONTEXT_FAILED, error);
  }
}

void PulseAudioOutput::Core::dropLink() {
  if (!link) return;
  pa_threaded_mainloop_lock(loop);
  // No callback of this context may reach the link once it is gone.
  pa_context_set_state_callback(link->context, nullptr, nullptr);
  pa_context_set_subscribe_callback(link->context, nullptr, nullptr);
  pa_context_disconnect(link->context);
  pa_context_unref(link->context);
  link.reset();
  pa_threaded_mainloop_unlock(loop);
}

void PulseAudioOutput::Core::failAll() {
  auto waiting = std::move(pending);
  pending.clear();
  for (auto& [id, p] : waiting) {
    p->reply = Reply{};
    p->done.notifyAll();
  }
}

void PulseAudioOutput::Core::notify() {
  if (watcher) watcher();
}

void PulseAudioOutput::Core::stateChanged(std::uint64_t of, pa_context_state_t state, const std::string& error) {
  // A report about a connection given up already.
  if (of != 0 && (!link || link->generation != of)) return;
  if (state == PA_CONTEXT_READY) {
    ready = true;
    reportedMissing = false;
    logger.log(category, "Connected to the sound server");
    settled.notifyAll();
    notify();
    return;
  }
  const bool wasReady = ready;
  ready = false;
  dropLink();
  failAll();
  settled.notifyAll();
  if (!reportedMissing) {
    reportedMissing = true;
    logger.log(category, "No sound server (" + error + "); the volume reads \"No output\" until one answers");
  }
  if (wasReady) notify();
  if (closed) return;
  retry.expires_after(options.reconnectDelay);
  retry.async_wait([weak = weak_from_this()](const asio::error_code& e) {
    if (e) return;
    if (auto core = weak.lock()) core->connect();
  });
}

void PulseAudioOutput::Core::complete(std::uint64_t id, Reply reply) {
  const auto it = pending.find(id);
  if (it == pending.end()) return;
  it->second->reply = std::move(reply);
  it->second->done.notifyAll();
  pending.erase(it);
}

asio::awaitable<void> PulseAudioOutput::Core::untilSettled() {
  auto self = shared_from_this();
  auto timedOut = std::make_shared<bool>(false);
  asio::steady_timer deadline(executor, options.requestTimeout);
  deadline.async_wait([self, timedOut](const asio::error_code& e) {
    if (e) return;
    *timedOut = true;
    self->settled.notifyAll();
  });
  while (link && !ready && !*timedOut) co_await settled.wait();
}

asio::awaitable<Reply> PulseAudioOutput::Core::ask(Kind kind, std::uint32_t sink, float level, bool muted) {
  auto self = shared_from_this();
  // Right after start, or while reconnecting, the answer is moments away.
  if (link && !ready) co_await untilSettled();
  if (!link || !ready) co_return Reply{};
  const std::uint64_t id = nextRequest++;
  auto request = std::make_unique<Request>(Request{link.get(), id, kind, sink, level, muted, false, std::nullopt});
  pa_threaded_mainloop_lock(loop);
  pa_operation* op = begin(link->context, request.get());
  if (op != nullptr) {
    pa_operation_unref(op);
    link->requests.emplace(id, std::move(request));
  }
  pa_threaded_mainloop_unlock(loop);
  if (op == nullptr) co_return Reply{};

  // The answer is posted to this executor, so it cannot come before the
  // waiter is in place.
  auto waiting = std::make_shared<Pending>(executor);
  pending.emplace(id, waiting);
  asio::steady_timer deadline(executor, options.requestTimeout);
  deadline.async_wait([weak = weak_from_this(), id](const asio::error_code& e) {
    if (e) return;
    if (auto core = weak.lock()) core->complete(id, Reply{});
  });
  struct Forget {
    Core& core;
    std::uint64_t id;
    asio::steady_timer& deadline;
    ~Forget() {
      core.pending.erase(id);
      deadline.cancel();
    }
  } forget{*this, id, deadline};
  while (!waiting->reply) co_await waiting->done.wait();
  co_return *waiting->reply;
}

PulseAudioOutput::PulseAudioOutput(const asio::any_io_executor& executor, Logger& logger, Options options)
    : core_(std::make_shared<Core>(executor, logger, std::move(options))) {
  core_->start();
}

PulseAudioOutput::~PulseAudioOutput() {
  core_->watcher = nullptr;
  core_->close();
}

asio::awaitable<std::optional<AudioOutput::Device>> PulseAudioOutput::defaultDevice() {
  auto core = core_;
  co_return (co_await core->ask(Kind::readDefault)).device;
}

asio::awaitable<void> PulseAudioOutput::setVolume(std::uint32_t id, float level) {
  auto core = core_;
  co_await core->ask(Kind::setVolume, id, level);
}

asio::awaitable<void> PulseAudioOutput::setMuted(std::uint32_t id, bool muted) {
  auto core = core_;
  co_await core->ask(Kind::setMuted, id, 0, muted);
}

void PulseAudioOutput::watch(std::function<void()> changed) { core_->watcher = std::move(changed); }

bool PulseAudioOutput::isConnected() const { return core_->ready; }

}  // namespace glidemate::host
