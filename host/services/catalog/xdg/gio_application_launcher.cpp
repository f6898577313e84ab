#include "host/services/catalog/xdg/gio_application_launcher.hpp"

#include <gio/gdesktopappinfo.h>
#include <unistd.h>

#include <memory>
#include <stdexcept>

namespace glidemate::host {
namespace {

template <class T>
struct Unref {
  void operator()(T* object) const { g_object_unref(object); }
};

// In the started program, before it runs: out of the host's terminal
// session and process group, so that stopping the host stops nothing else.
void detach(gpointer) { ::setsid(); }

}  // namespace

asio::awaitable<void> GioApplicationLauncher::open(const std::string& location) {
  std::unique_ptr<GDesktopAppInfo, Unref<GDesktopAppInfo>> entry(g_desktop_app_info_new_from_filename(location.c_str()));
  if (!entry) throw std::runtime_error("The application's desktop entry can't be read.");
  std::unique_ptr<GAppLaunchContext, Unref<GAppLaunchContext>> context(g_app_launch_context_new());
  GError* error = nullptr;
  // GLib spawns through an intermediate child it reaps itself, so the
  // started program is never left to this process to reap.
  const gboolean launched = g_desktop_app_info_launch_uris_as_manager(
      entry.get(), nullptr, context.get(), G_SPAWN_SEARCH_PATH, detach, nullptr, nullptr, nullptr, &error);
  if (!launched) {
    const std::string reason = error != nullptr ? error->message : "The application could not be started.";
    if (error != nullptr) g_error_free(error);
    throw std::runtime_error(reason);
  }
  co_return;
}

}  // namespace glidemate::host
