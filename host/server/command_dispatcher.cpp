#include "host/server/command_dispatcher.hpp"

#include <asio/error.hpp>
#include <asio/steady_timer.hpp>
#include <asio/system_error.hpp>
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

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::Power& command) {
  auto* power = configuration_.services.power.get();
  if (power == nullptr) {
    co_await unavailable(session, Unavailable::power);
    co_return;
  }
  std::optional<std::string> reason;
  try {
    co_await power->perform(command.value);
  } catch (const std::exception& e) {
    reason = scriptFailureReason(e);
  }
  if (!reason) co_return;
  std::string feature = "power";
  co_await fail(session, std::move(feature), std::move(*reason));
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

asio::awaitable<void> CommandDispatcher::replyApps(Session& session) {
  Event apps = Event::Apps{configuration_.services.catalog->apps()};
  co_await reply(session, std::move(apps));
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::GetApps&) {
  if (configuration_.services.catalog == nullptr) {
    co_await unavailable(session, Unavailable::apps);
    co_return;
  }
  co_await replyApps(session);
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::GetAppIcon& command) {
  auto* catalog = configuration_.services.catalog.get();
  if (catalog == nullptr) {
    co_await unavailable(session, Unavailable::apps);
    co_return;
  }
  // No icon: nothing is sent.
  if (const auto icon = catalog->icon(command.bundleId)) co_await sendChunks(*icon, command.bundleId, session);
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::LaunchApp& command) {
  auto* catalog = configuration_.services.catalog.get();
  if (catalog == nullptr) {
    co_await unavailable(session, Unavailable::launchApp);
    co_return;
  }
  bool launched = false;
  try {
    launched = co_await catalog->launch(command.bundleId);
  } catch (const asio::system_error& e) {
    if (e.code() == asio::error::operation_aborted) throw;
  } catch (const std::exception&) {
    // The system could not open it: for the phone, that is an app that
    // did not open.
  }
  if (launched) co_return;
  std::string feature = "launchApp";
  std::string reason = "That app could not be opened.";
  co_await fail(session, std::move(feature), std::move(reason));
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
  auto* shortcuts = configuration_.services.shortcuts.get();
  if (shortcuts == nullptr) {
    co_await unavailable(session, Unavailable::shortcut);
    co_return;
  }
  auto list = co_await shortcuts->list();
  Event names = Event::Shortcuts{std::move(list)};
  co_await reply(session, std::move(names));
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::RunShortcut& command) {
  log("Shortcut: " + command.name);
  auto* shortcuts = configuration_.services.shortcuts.get();
  if (shortcuts == nullptr) {
    co_await unavailable(session, Unavailable::shortcut);
    co_return;
  }
  std::optional<std::string> reason;
  try {
    co_await shortcuts->run(command.name);
  } catch (const ShortcutsService::Failure& e) {
    reason = e.message();
  } catch (const asio::system_error& e) {
    if (e.code() == asio::error::operation_aborted) throw;
    reason = "That shortcut couldn't run.";
  } catch (const std::exception&) {
    reason = "That shortcut couldn't run.";
  }
  if (!reason) co_return;
  std::string feature = "shortcut";
  co_await fail(session, std::move(feature), std::move(*reason));
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::HideApp& command) {
  auto* catalog = configuration_.services.catalog.get();
  if (catalog == nullptr) {
    co_await unavailable(session, Unavailable::apps);
    co_return;
  }
  if (const auto running = catalog->runningApplication(command.bundleId)) catalog->hide(*running);
  co_await replyApps(session);
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::QuitApp& command) {
  auto* catalog = configuration_.services.catalog.get();
  if (catalog == nullptr) {
    co_await unavailable(session, Unavailable::apps);
    co_return;
  }
  if (const auto running = catalog->runningApplication(command.bundleId)) catalog->terminate(*running);
  // Give it a moment to go before the list says whether it runs.
  const std::chrono::steady_clock::duration delay = quitDelay;
  co_await configuration_.sleep(delay);
  co_await replyApps(session);
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::SleepDisplay&) {
  auto* power = configuration_.services.power.get();
  if (power == nullptr) {
    co_await unavailable(session, Unavailable::power);
    co_return;
  }
  bool slept = true;
  try {
    power->sleepDisplay();
  } catch (const std::exception&) {
    slept = false;
  }
  if (slept) co_return;
  std::string feature = "power";
  std::string reason = "The Mac wouldn't turn its display off.";
  co_await fail(session, std::move(feature), std::move(reason));
}

asio::awaitable<void> CommandDispatcher::on(Session& session, const Command::SetKeepAwake& command) {
  auto* power = configuration_.services.power.get();
  if (power == nullptr) {
    co_await unavailable(session, Unavailable::keepAwake);
    co_return;
  }
  co_await power->setKeepAwake(command.value);
  if (configuration_.broadcast) configuration_.broadcast(Event::KeepAwake{power->isKeptAwake()});
}

}  // namespace glidemate::host
