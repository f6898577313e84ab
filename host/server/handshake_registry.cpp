#include "host/server/handshake_registry.hpp"

#include <algorithm>
#include <vector>

#include "host/server/sourced_pairing.hpp"
#include "kit/session/session.hpp"

namespace glidemate::host {

HandshakeRegistry::HandshakeRegistry(Limits limits) : limits_(limits) {}

std::optional<HandshakeRegistry::Id> HandshakeRegistry::oldestSilent(const std::optional<std::string>& source,
                                                                     std::optional<Id> except) const {
  for (const auto& [id, entry] : entries_) {
    if (id == except || entry.session->hasReceivedRecord()) continue;
    if (source && entry.pairing->source() != source) continue;
    return id;
  }
  return std::nullopt;
}

bool HandshakeRegistry::makeRoom(const std::optional<std::string>& source) {
  std::optional<Id> sameSource;
  std::size_t staying = entries_.size();
  if (source) {
    const auto fromSource = static_cast<std::size_t>(std::count_if(
        entries_.begin(), entries_.end(), [&](const auto& e) { return e.second.pairing->source() == source; }));
    if (fromSource >= limits_.perSource) {
      sameSource = oldestSilent(source, std::nullopt);
      if (!sameSource) return false;
      --staying;
    }
  }
  std::optional<Id> any;
  if (staying >= limits_.total) {
    any = oldestSilent(std::nullopt, sameSource);
    if (!any) return false;
  }
  closeWhere([&](Id id, const Entry&) { return id == sameSource || id == any; });
  return true;
}

HandshakeRegistry::Id HandshakeRegistry::enter(std::shared_ptr<Session> session,
                                               std::shared_ptr<const SourcedPairing> pairing) {
  const Id id = nextId_++;
  entries_.emplace(id, Entry{std::move(session), std::move(pairing)});
  return id;
}

void HandshakeRegistry::leave(Id id) { entries_.erase(id); }

template <class Predicate>
void HandshakeRegistry::closeWhere(Predicate matches) {
  // Taken out first: closing may lead, later, to leave() for the same ids.
  std::vector<std::shared_ptr<Session>> closing;
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (matches(it->first, it->second)) {
      closing.push_back(std::move(it->second.session));
      it = entries_.erase(it);
    } else {
      ++it;
    }
  }
  for (const auto& session : closing) session->close();
}

void HandshakeRegistry::closeAll() {
  closeWhere([](Id, const Entry&) { return true; });
}

void HandshakeRegistry::closePeer(const std::string& peerId) {
  closeWhere([&](Id, const Entry& e) { return e.pairing->peerId() == peerId; });
}

void HandshakeRegistry::closeHoldersOtherThan(const std::optional<PairingCode>& active) {
  closeWhere([&](Id, const Entry& e) {
    const auto& held = e.pairing->heldCode();
    return held.has_value() && held != active;
  });
}

}  // namespace glidemate::host
