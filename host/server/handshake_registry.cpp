#include "host/server/handshake_registry.hpp"

#include <vector>

#include "host/server/sourced_pairing.hpp"
#include "kit/session/session.hpp"

namespace glidemate::host {

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
    if (matches(it->second)) {
      closing.push_back(std::move(it->second.session));
      it = entries_.erase(it);
    } else {
      ++it;
    }
  }
  for (const auto& session : closing) session->close();
}

void HandshakeRegistry::closeAll() {
  closeWhere([](const Entry&) { return true; });
}

void HandshakeRegistry::closePeer(const std::string& peerId) {
  closeWhere([&](const Entry& e) { return e.pairing->peerId() == peerId; });
}

void HandshakeRegistry::closeHoldersOtherThan(const std::optional<PairingCode>& active) {
  closeWhere([&](const Entry& e) {
    const auto& held = e.pairing->heldCode();
    return held.has_value() && held != active;
  });
}

}  // namespace glidemate::host
