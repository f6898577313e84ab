#include "host/server/command_dispatcher.hpp"

#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

#include "host/services/apple_script_runner.hpp"
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

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::GetVolume&) {
  co_await unavailable(session, Unavailable::volume);
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::SetVolume&) {
  co_await unavailable(session, Unavailable::volume);
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::SetMuted&) {
  co_await unavailable(session, Unavailable::volume);
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::GetBattery&) {
  co_await unavailable(session, Unavailable::battery);
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::GetBluetoothDevices&) {
  co_await unavailable(session, Unavailable::bluetooth);
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::ConnectBluetooth&) {
  co_await unavailable(session, Unavailable::bluetooth);
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::DisconnectBluetooth&) {
  co_await unavailable(session, Unavailable::bluetooth);
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
  co_await unavailable(session, Unavailable::presentation);
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::GetPresentation&) {
  co_await unavailable(session, Unavailable::presentation);
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::SetLaserPointer& command) {
  log("Laser: " + std::string(laserName(command.value)));
  co_await unavailable(session, Unavailable::laserPointer);
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::Media&) {
  co_await unavailable(session, Unavailable::media);
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::GetNowPlaying&) {
  co_await unavailable(session, Unavailable::media);
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::GetNowPlayingArtwork&) {
  co_await unavailable(session, Unavailable::media);
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::SetClipboard& command) {
  if (command.value.size() > Clipboard::maxBytes) {
    std::string feature = "clipboard";
    std::string reason = "That's too much text to send in one go.";
    co_await fail(session, std::move(feature), std::move(reason));
    co_return;
  }
  co_await unavailable(session, Unavailable::clipboard);
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::GetClipboard&) {
  co_await unavailable(session, Unavailable::clipboard);
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
