#pragma once

#include <asio/awaitable.hpp>
#include <chrono>
#include <exception>
#include <functional>
#include <set>
#include <string>

#include "host/server/host_services.hpp"
#include "host/server/input_services.hpp"
#include "host/server/observable.hpp"
#include "host/server/unavailable_feature.hpp"
#include "kit/runtime/logger.hpp"
#include "kit/session/session.hpp"
#include "kit/wire/command.hpp"

namespace glidemate::host {

// The table from each command a phone sends to the service that carries it
// out, and the reply that goes back on the same session. Failures become
// one Event::Failed with a short feature name and a sentence for the
// phone's user; nothing here ends a session, and a failed reply is ignored.
// Main executor only; the host server awaits each command before the
// phone's next message.
class CommandDispatcher {
 public:
  using Sleep = std::function<asio::awaitable<void>(std::chrono::steady_clock::duration)>;

  // After a presentation or media action, before reading the new state.
  static constexpr std::chrono::milliseconds settleDelay{150};
  // After asking an application to quit, before reading the app list.
  static constexpr std::chrono::milliseconds quitDelay{500};
  // The auxiliary-control key type of play/pause; next and previous follow.
  static constexpr std::int32_t mediaKeyType = 16;
  // The largest piece of an icon, artwork or frame in one message.
  static constexpr std::size_t chunkSize = 32768;

  struct Configuration {
    HostServices& services;
    // Null: a host with no desktop to drive.
    InputServices* input = nullptr;
    Logger& logger;
    // Sends an event to every live session.
    std::function<void(const Event&)> broadcast = {};
    // Waits on the monotonic clock; tests pass one that needs no waiting.
    Sleep sleep = steadySleep;
    // Shows the user where to let this program control `app`.
    std::function<void(const std::string& app)> openAutomationSettings = {};
  };

  explicit CommandDispatcher(Configuration configuration);

  asio::awaitable<void> handle(Session& session, const Command& command);

  // Sends `data` as icon chunks of at most chunkSize bytes under `bundleId`;
  // nothing for empty data; stops at the first send that fails.
  static asio::awaitable<void> sendChunks(const Bytes& data, const std::string& bundleId, Session& session);

  // The sentence a phone is shown for a failed script. A missing permission
  // to control an application also shows the user where to grant it, once
  // per application per run.
  std::string scriptFailureReason(const std::exception& error);

  // The applications whose automation settings were shown during this run.
  Observable<std::set<std::string>> automationSettingsOpenedFor;

  static asio::awaitable<void> steadySleep(std::chrono::steady_clock::duration duration);

 private:
  static asio::awaitable<void> reply(Session& session, Event event);
  static asio::awaitable<void> fail(Session& session, std::string command, std::string reason);
  static asio::awaitable<void> unavailable(Session& session, const UnavailableFeature& feature);
  // The state read after the command, as its reply.
  static asio::awaitable<void> replyVolume(Session& session, AudioService& audio);
  static asio::awaitable<void> replyBluetoothDevices(Session& session, BluetoothService& bluetooth);

  asio::awaitable<void> on(Session& session, const Command::Power& command);
  asio::awaitable<void> on(Session& session, const Command::GetVolume& command);
  asio::awaitable<void> on(Session& session, const Command::SetVolume& command);
  asio::awaitable<void> on(Session& session, const Command::SetMuted& command);
  asio::awaitable<void> on(Session& session, const Command::GetBattery& command);
  asio::awaitable<void> on(Session& session, const Command::GetBluetoothDevices& command);
  asio::awaitable<void> on(Session& session, const Command::ConnectBluetooth& command);
  asio::awaitable<void> on(Session& session, const Command::DisconnectBluetooth& command);
  asio::awaitable<void> on(Session& session, const Command::GetApps& command);
  asio::awaitable<void> on(Session& session, const Command::GetAppIcon& command);
  asio::awaitable<void> on(Session& session, const Command::LaunchApp& command);
  asio::awaitable<void> on(Session& session, const Command::SetScreenPreview& command);
  asio::awaitable<void> on(Session& session, const Command::Presentation& command);
  asio::awaitable<void> on(Session& session, const Command::GetPresentation& command);
  asio::awaitable<void> on(Session& session, const Command::SetLaserPointer& command);
  asio::awaitable<void> on(Session& session, const Command::Media& command);
  asio::awaitable<void> on(Session& session, const Command::GetNowPlaying& command);
  asio::awaitable<void> on(Session& session, const Command::GetNowPlayingArtwork& command);
  asio::awaitable<void> on(Session& session, const Command::SetClipboard& command);
  asio::awaitable<void> on(Session& session, const Command::GetClipboard& command);
  asio::awaitable<void> on(Session& session, const Command::GetShortcuts& command);
  asio::awaitable<void> on(Session& session, const Command::RunShortcut& command);
  asio::awaitable<void> on(Session& session, const Command::HideApp& command);
  asio::awaitable<void> on(Session& session, const Command::QuitApp& command);
  asio::awaitable<void> on(Session& session, const Command::SleepDisplay& command);
  asio::awaitable<void> on(Session& session, const Command::SetKeepAwake& command);

  void log(const std::string& line);

  Configuration configuration_;
};

}  // namespace glidemate::host
