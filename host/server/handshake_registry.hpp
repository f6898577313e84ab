#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "kit/session/pairing_code.hpp"

namespace glidemate {
class Session;
}

namespace glidemate::host {

class SourcedPairing;

// The connections still in their handshake, so that what the user decides
// reaches them before they are let in: pausing ends them all, turning a
// phone away or forgetting it ends that phone's, and taking a code down
// ends the handshake that holds it. A session the registry ends leaves it
// at once. Lives on the main executor.
class HandshakeRegistry {
 public:
  using Id = std::uint64_t;

  HandshakeRegistry() = default;
  HandshakeRegistry(const HandshakeRegistry&) = delete;
  HandshakeRegistry& operator=(const HandshakeRegistry&) = delete;

  // `pairing` is the session's provider, which learns the phone's id and
  // the code as the handshake goes on.
  Id enter(std::shared_ptr<Session> session, std::shared_ptr<const SourcedPairing> pairing);
  // The handshake ended, however; an id that is gone is ignored.
  void leave(Id id);

  void closeAll();
  void closePeer(const std::string& peerId);
  // Ends every handshake holding a code that is no longer `active`.
  void closeHoldersOtherThan(const std::optional<PairingCode>& active);

  std::size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    std::shared_ptr<Session> session;
    std::shared_ptr<const SourcedPairing> pairing;
  };

  template <class Predicate>
  void closeWhere(Predicate matches);

  std::map<Id, Entry> entries_;
  Id nextId_ = 0;
};

}  // namespace glidemate::host
