#include "host/server/command_dispatcher.hpp"

#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

#include "host/services/apple_script_runner.hpp"
#include "kit/runtime/cancellation.hpp"
#include "kit/wire/icon_assembler.hpp"
#include "kit/wire/overload.hpp"
#include "kit/wire/protocol.hpp"

namespace glidemate::host {
namespace {

constexpr std::string_view category = "sessions";

std::string_view laserName(const std::optional<LaserColor>& color) {
  if (!color) return "off";
  return *color == LaserColor::red ? "red" : "green";
}

std::string_view actionName(PresentationAction action) {
  switch (action) {
    case PresentationAction::start:
      return "start";
    case PresentationAction::next:
      return "next";
    case PresentationAction::previous:
      return "previous";
    case PresentationAction::end:
      return "end";
  }
  return "unknown";
}

std::string playingText(const PresentationStatus& status) {
  return std::string("playing=") + (status.isPlaying ? "true" : "false") +
         " slide=" + std::to_string(status.slideIndex) + "/" + std::to_string(status.slideCount);
}

}  // namespace

CommandDispatcher::CommandDispatcher(Configuration configuration) : configuration_(std::move(configuration)) {}

asio::awaitable<void> CommandDispatcher::steadySleep(std::chrono::steady_clock::duration duration) {
  asio::steady_timer timer(co_await asio::this_coro::executor, duration);
  co_await timer.async_wait(asio::use_awaitable);
}

void CommandDispatcher::log(const std::string& line) { configuration_.logger.log(category, line); }

asio::awaitable<void> CommandDispatcher::handle(Session& session, const Command& command) {
  co_await std::visit([&](const auto& c) { return on(session, c); }, command.value);
}

// Arguments of awaited calls are named locals throughout: g++ 12 destroys
// some temporaries of a co_await expression twice.
asio::awaitable<void> CommandDispatcher::reply(Session& session, Event event) {
  Message message = Message::Event{std::move(event)};
  try {
    co_await session.send(std::move(message));
  } catch (const std::exception&) {
    // The phone is gone or going; its session ends on its own.
  }
}

asio::awaitable<void> CommandDispatcher::fail(Session& session, std::string command, std::string reason) {
  Event event = Event::Failed{std::move(command), std::move(reason)};
  co_await reply(session, std::move(event));
}

asio::awaitable<void> CommandDispatcher::unavailable(Session& session, const UnavailableFeature& feature) {
  std::string command(feature.command);
  std::string reason(feature.reason);
  co_await fail(session, std::move(command), std::move(reason));
}

asio::awaitable<void> CommandDispatcher::sendChunks(const Bytes& data, const std::string& bundleId,
                                                    Session& session) {
  const auto total = static_cast<std::uint32_t>(data.size());
  for (auto& piece : IconAssembler::chunks(data, chunkSize)) {
    Message message = Message::AppIconChunk{bundleId, total, piece.offset, std::move(piece.bytes)};
    try {
      co_await session.send(std::move(message));
    } catch (const std::exception&) {
      co_return;
    }
  }
}

std::string CommandDispatcher::scriptFailureReason(const std::exception& error) {
  const auto* failure = dynamic_cast<const AppleScriptRunner::Failure*>(&error);
  if (failure == nullptr) return "The Mac refused.";
  return std::visit(
      Overload{
          [this](const AppleScriptRunner::Failure::NotPermitted& refused) {
            auto opened = *automationSettingsOpenedFor;
            if (opened.insert(refused.app).second) {
              automationSettingsOpenedFor.set(std::move(opened));
              if (configuration_.openAutomationSettings) configuration_.openAutomationSettings(refused.app);
            }
            return "Allow Glidemate to control " + refused.app + " in Privacy & Security \u2192 Automation.";
          },
          [](const AppleScriptRunner::Failure::Failed& failed) { return failed.message; },
      },
      failure->which());
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::Power&) {
  co_await unavailable(session, Unavailable::power);
}

asio::awaitable<void> CommandDispatcher::replyVolume(Session& session, AudioService& audio) {
  VolumeStatus status = co_await audio.status();
  Event event = Event::Volume{std::move(status)};
  co_await reply(session, std::move(event));
}

asio::awaitable<void> CommandDispatcher::replyBluetoothDevices(Session& session, BluetoothService& bluetooth) {
  std::vector<BluetoothDeviceInfo> devices = co_await bluetooth.devices();
  Event event = Event::BluetoothDevices{std::move(devices)};
  co_await reply(session, std::move(event));
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::GetVolume&) {
  AudioService* audio = configuration_.services.audio.get();
  if (audio == nullptr) {
    co_await unavailable(session, Unavailable::volume);
    co_return;
  }
  co_await replyVolume(session, *audio);
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::SetVolume& command) {
  AudioService* audio = configuration_.services.audio.get();
  if (audio == nullptr) {
    co_await unavailable(session, Unavailable::volume);
    co_return;
  }
  const float level = command.value;
  co_await audio->setVolume(level);
  co_await replyVolume(session, *audio);
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::SetMuted& command) {
  AudioService* audio = configuration_.services.audio.get();
  if (audio == nullptr) {
    co_await unavailable(session, Unavailable::volume);
    co_return;
  }
  const bool muted = command.value;
  co_await audio->setMuted(muted);
  co_await replyVolume(session, *audio);
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::GetBattery&) {
  BatteryService* battery = configuration_.services.battery.get();
  if (battery == nullptr) {
    co_await unavailable(session, Unavailable::battery);
    co_return;
  }
  Event event = Event::Battery{battery->status()};
  co_await reply(session, std::move(event));
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::GetBluetoothDevices&) {
  BluetoothService* bluetooth = configuration_.services.bluetooth.get();
  if (bluetooth == nullptr) {
    co_await unavailable(session, Unavailable::bluetooth);
    co_return;
  }
  co_await replyBluetoothDevices(session, *bluetooth);
}

// Whether it worked shows in the list that follows.
asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::ConnectBluetooth& command) {
  BluetoothService* bluetooth = configuration_.services.bluetooth.get();
  if (bluetooth == nullptr) {
    co_await unavailable(session, Unavailable::bluetooth);
    co_return;
  }
  std::string address = command.address;
  co_await bluetooth->connect(std::move(address));
  co_await replyBluetoothDevices(session, *bluetooth);
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::DisconnectBluetooth& command) {
  BluetoothService* bluetooth = configuration_.services.bluetooth.get();
  if (bluetooth == nullptr) {
    co_await unavailable(session, Unavailable::bluetooth);
    co_return;
  }
  std::string address = command.address;
  co_await bluetooth->disconnect(std::move(address));
  co_await replyBluetoothDevices(session, *bluetooth);
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::GetApps&) {
  co_await unavailable(session, Unavailable::apps);
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::GetAppIcon&) {
  co_await unavailable(session, Unavailable::apps);
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::LaunchApp&) {
  co_await unavailable(session, Unavailable::launchApp);
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::SetScreenPreview&) {
  co_await unavailable(session, Unavailable::screenPreview);
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::Presentation& command) {
  log("Presentation: " + std::string(actionName(command.value)));
  auto* presentation = configuration_.services.presentation.get();
  if (presentation == nullptr) {
    co_await unavailable(session, Unavailable::presentation);
    co_return;
  }
  std::optional<Event> answer;
  try {
    if (const auto key = presentation->perform(command.value)) {
      // A browser slideshow (or an application driven by keys) moves with a
      // key, which must not land in a password field.
      if (configuration_.input == nullptr) throw std::runtime_error("no keyboard to press keys with");
      configuration_.input->keystrokes.refuseSecureInput();
      configuration_.input->keystrokes.press(*key, 0);
    }
  } catch (const std::exception& e) {
    answer = Event::Failed{"presentation", scriptFailureReason(e)};
  }
  if (!answer) {
    const auto delay = std::chrono::steady_clock::duration(settleDelay);
    co_await configuration_.sleep(delay);
    try {
      PresentationStatus status = presentation->status();
      log("Presentation: " + playingText(status));
      answer = Event::Presentation{std::move(status)};
    } catch (const std::exception& e) {
      answer = Event::Failed{"presentation", scriptFailureReason(e)};
    }
  }
  co_await reply(session, std::move(*answer));
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::GetPresentation&) {
  auto* presentation = configuration_.services.presentation.get();
  if (presentation == nullptr) {
    co_await unavailable(session, Unavailable::presentation);
    co_return;
  }
  std::optional<Event> answer;
  try {
    PresentationStatus status = presentation->status();
    log("Presentation poll: " + playingText(status));
    answer = Event::Presentation{std::move(status)};
  } catch (const std::exception& e) {
    answer = Event::Failed{"presentation", scriptFailureReason(e)};
  }
  co_await reply(session, std::move(*answer));
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::SetLaserPointer& command) {
  log("Laser: " + std::string(laserName(command.value)));
  if (configuration_.services.laser == nullptr) {
    co_await unavailable(session, Unavailable::laserPointer);
    co_return;
  }
  configuration_.services.laser->set(command.value);
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::Media& command) {
  NowPlayingService* nowPlaying = configuration_.services.nowPlaying.get();
  // Without a track the player is not told; the desktop's media key is
  // pressed instead, which needs a desktop to press it on.
  if (nowPlaying == nullptr || (!nowPlaying->hasTrack() && configuration_.input == nullptr)) {
    co_await unavailable(session, Unavailable::media);
    co_return;
  }
  std::optional<std::string> failure;
  try {
    if (nowPlaying->hasTrack()) {
      co_await nowPlaying->perform(command.value);
    } else {
      configuration_.input->keystrokes.postSystemKey(mediaKeyType + static_cast<std::int32_t>(command.value));
    }
    // Gives the player time to act before its state is read back.
    co_await configuration_.sleep(settleDelay);
    auto status = co_await nowPlaying->status();
    Event event = Event::NowPlaying{std::move(status)};
    co_await reply(session, std::move(event));
  } catch (const std::exception& e) {
    if (isCancellation(e)) throw;
    failure = scriptFailureReason(e);
  }
  if (failure) {
    std::string feature = "media";
    co_await fail(session, std::move(feature), std::move(*failure));
  }
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::GetNowPlaying&) {
  NowPlayingService* nowPlaying = configuration_.services.nowPlaying.get();
  if (nowPlaying == nullptr) {
    co_await unavailable(session, Unavailable::media);
    co_return;
  }
  std::optional<std::string> failure;
  try {
    auto status = co_await nowPlaying->status();
    Event event = Event::NowPlaying{std::move(status)};
    co_await reply(session, std::move(event));
  } catch (const std::exception& e) {
    if (isCancellation(e)) throw;
    failure = scriptFailureReason(e);
  }
  if (failure) {
    std::string feature = "media";
    co_await fail(session, std::move(feature), std::move(*failure));
  }
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::GetNowPlayingArtwork&) {
  NowPlayingService* nowPlaying = configuration_.services.nowPlaying.get();
  if (nowPlaying == nullptr) {
    co_await unavailable(session, Unavailable::media);
    co_return;
  }
  // No artwork: nothing is sent.
  const auto artwork = co_await nowPlaying->artwork();
  if (!artwork) co_return;
  const std::string artworkId(NowPlaying::artworkId);
  co_await sendChunks(*artwork, artworkId, session);
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::SetClipboard& command) {
  if (command.value.size() > Clipboard::maxBytes) {
    std::string feature = "clipboard";
    std::string reason = "That's too much text to send in one go.";
    co_await fail(session, std::move(feature), std::move(reason));
    co_return;
  }
  auto* clipboard = configuration_.services.clipboard.get();
  if (clipboard == nullptr) {
    co_await unavailable(session, Unavailable::clipboard);
    co_return;
  }
  bool taken = true;
  try {
    std::string text = command.value;
    co_await clipboard->setText(std::move(text));
  } catch (const ClipboardService::Failure&) {
    taken = false;
  }
  if (!taken) {
    // Saying nothing would tell the phone the text arrived.
    std::string feature = "clipboard";
    std::string reason = "The clipboard on this computer wouldn't take the text.";
    co_await fail(session, std::move(feature), std::move(reason));
  }
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::GetClipboard&) {
  auto* clipboard = configuration_.services.clipboard.get();
  if (clipboard == nullptr) {
    co_await unavailable(session, Unavailable::clipboard);
    co_return;
  }
  std::string text = (co_await clipboard->text()).value_or("");
  if (text.size() > Clipboard::maxBytes) {
    std::string feature = "clipboard";
    std::string reason = "The Mac's clipboard holds too much text to send.";
    co_await fail(session, std::move(feature), std::move(reason));
    co_return;
  }
  Event event = Event::Clipboard{std::move(text)};
  co_await reply(session, std::move(event));
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::GetShortcuts&) {
  co_await unavailable(session, Unavailable::shortcut);
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::RunShortcut& command) {
  log("Shortcut: " + command.name);
  co_await unavailable(session, Unavailable::shortcut);
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::HideApp&) {
  co_await unavailable(session, Unavailable::apps);
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::QuitApp&) {
  co_await unavailable(session, Unavailable::apps);
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::SleepDisplay&) {
  co_await unavailable(session, Unavailable::power);
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::SetKeepAwake&) {
  co_await unavailable(session, Unavailable::keepAwake);
}

}  // namespace glidemate::host
