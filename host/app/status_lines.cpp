#include "host/app/status_lines.hpp"

#include <ctime>
#include <nlohmann/json.hpp>

namespace glidemate::host {
namespace {

using Json = nlohmann::ordered_json;

std::string dump(Json json) { return json.dump(-1, ' ', false, Json::error_handler_t::replace); }

}  // namespace

std::string StatusLines::isoTime(std::chrono::system_clock::time_point t) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(t);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

StatusLines::StatusLines(HostServer& server, bool json, Output output)
    : server_(server), json_(json), output_(std::move(output)) {
  listener_ = server.listenerState.observe([this](const LANListener::State& state) {
    if (const auto* listening = std::get_if<LANListener::Listening>(&state)) {
      emit("Listening on port " + std::to_string(listening->port),
           dump({{"event", "listening"}, {"port", listening->port}}));
    } else if (const auto* failed = std::get_if<LANListener::Failed>(&state)) {
      emit("Listener failed: " + failed->reason,
           dump({{"event", "listenerFailed"}, {"error", failed->reason}}));
    }
  });
  code_ = server.pairing.activeCode.observe([this](const std::optional<PairingCode>& code) {
    if (code) {
      const std::string phone = server_.pairing.pairingWith->value_or("");
      emit("Pairing code " + code->digits() + " for " + phone,
           dump({{"event", "pairingCode"}, {"code", code->digits()}, {"phone", phone}}));
    } else {
      emit("Pairing code withdrawn", dump({{"event", "pairingEnded"}}));
    }
  });
  paused_ = server.isPaused.observe([this](bool paused) {
    emit(paused ? "Paused" : "Resumed", dump({{"event", paused ? "paused" : "resumed"}}));
  });
  throttle_ = server.pairing.throttledUntil.observe(
      [this](const std::optional<std::chrono::system_clock::time_point>& until) {
        if (!until) return;
        const std::string when = isoTime(*until);
        emit("Pairing blocked after wrong codes until " + when,
             dump({{"event", "pairingBlocked"}, {"until", when}}));
      });
  storage_ = server.pairing.storageError.observe([this](const std::optional<std::string>& text) {
    if (!text) return;
    emit("Key store error: " + *text, dump({{"event", "storageError"}, {"text", *text}}));
  });
  server.onActivity = [this](const HostServer::Activity& activity) {
    if (const auto* c = std::get_if<HostServer::PeerConnected>(&activity)) {
      const std::string transport(rawValue(c->peer.transport));
      emit("Connected: " + c->peer.name + " (" + c->peer.id + ") over " + transport,
           dump({{"event", "connected"},
                 {"id", c->peer.id},
                 {"name", c->peer.name},
                 {"transport", transport}}));
    } else if (const auto* e = std::get_if<HostServer::PeerEnded>(&activity)) {
      emit("Disconnected: " + e->peer.name + " (" + e->peer.id + ")",
           dump({{"event", "disconnected"}, {"id", e->peer.id}, {"name", e->peer.name}}));
    } else if (const auto* f = std::get_if<HostServer::HandshakeFailed>(&activity)) {
      const std::string transport(rawValue(f->transport));
      emit("Handshake failed over " + transport + ": " + f->error,
           dump({{"event", "handshakeFailed"}, {"transport", transport}, {"error", f->error}}));
    }
  };
}

StatusLines::~StatusLines() { server_.onActivity = nullptr; }

void StatusLines::emit(const std::string& text, const std::string& json) {
  output_(json_ ? json : text);
}

void StatusLines::printPeers() {
  const auto& peers = *server_.peers;
  if (json_) {
    Json list = Json::array();
    for (const auto& p : peers) {
      list.push_back({{"id", p.id},
                      {"name", p.name},
                      {"transport", std::string(rawValue(p.transport))},
                      {"connectedAt", isoTime(p.connectedAt)}});
    }
    output_(dump({{"event", "peers"}, {"peers", std::move(list)}}));
    return;
  }
  if (peers.empty()) output_("No phones connected");
  for (const auto& p : peers) {
    output_("Peer " + p.id + " " + p.name + " over " + std::string(rawValue(p.transport)) +
            " since " + isoTime(p.connectedAt));
  }
}

void StatusLines::printPaired() {
  const auto& paired = *server_.pairing.pairedDevices;
  if (json_) {
    Json list = Json::array();
    for (const auto& p : paired) {
      list.push_back({{"id", p.id},
                      {"name", p.name},
                      {"pairedAt", isoTime(p.pairedAt)},
                      {"lastSeen", isoTime(p.lastSeen)}});
    }
    output_(dump({{"event", "paired"}, {"phones", std::move(list)}}));
    return;
  }
  if (paired.empty()) output_("No phones paired");
  for (const auto& p : paired) {
    output_("Paired " + p.id + " " + p.name + ", last seen " + isoTime(p.lastSeen));
  }
}

void StatusLines::printError(const std::string& text) {
  emit("Error: " + text, dump({{"event", "error"}, {"text", text}}));
}

void StatusLines::printThreeFingerDrag(bool enabled) {
  emit(std::string("Three-finger drag ") + (enabled ? "on" : "off"),
       dump({{"event", "threeFingerDrag"}, {"enabled", enabled}}));
}

}  // namespace glidemate::host
