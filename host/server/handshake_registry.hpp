#pragma once

#include <cstddef>
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

// The connections still in their handshake.
//
// Admission: anyone on the network can open connections and say nothing,
// so the unfinished handshakes are capped, in all and per source address.
// When a cap is reached a new connection ends the oldest one that has not
// delivered a single record yet (a real phone says hello at once); only
// when every place is held by a connection that has spoken is the new one
// turned away.
//
// The user's decisions reach these connections before they are let in:
// pausing ends them all, turning a phone away or forgetting it ends that
// phone's, and taking a code down ends the handshake that holds it.
//
// A connection the registry ends leaves it at once. Lives on the main
// executor.
class HandshakeRegistry {
 public:
  using Id = std::uint64_t;

  struct Limits {
    std::size_t total = 64;
    std::size_t perSource = 8;
  };

  explicit HandshakeRegistry(Limits limits);
  HandshakeRegistry(const HandshakeRegistry&) = delete;
  HandshakeRegistry& operator=(const HandshakeRegistry&) = delete;

  // Makes room for one more connection from `source` (none: a link without
  // an address), ending silent connections where a cap is reached. False,
  // with nothing ended, when no room can be made.
  bool makeRoom(const std::optional<std::string>& source);
  // `pairing` is the session's provider: it knows the source, and learns
  // the phone's id and the code as the handshake goes on.
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
  // The oldest connection from `source` (any, when none) that has delivered
  // no record, other than `except`.
  std::optional<Id> oldestSilent(const std::optional<std::string>& source, std::optional<Id> except) const;

  Limits limits_;
  // By id, which grows with every connection: oldest first.
  std::map<Id, Entry> entries_;
  Id nextId_ = 0;
};

}  // namespace glidemate::host
