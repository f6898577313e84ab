#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "kit/session/keychain_backend.hpp"
#include "kit/session/paired_peer.hpp"
#include "kit/session/secret_bytes.hpp"

namespace glidemate {

// The paired phones and their long-term keys: one item per phone, holding
// the JSON {"peer":{"id","name","pairedAt","lastSeen"},"key":"<Base64>"},
// dates as seconds since 2001-01-01 00:00:00 UTC. Reads treat anything
// missing or unreadable as absent; only save() reports failures.
class KeychainStore {
 public:
  using Clock = std::function<std::chrono::system_clock::time_point()>;

  // The host's store of paired phones lives under this service name.
  static constexpr const char* hostService = "com.larkspurstudios.glidemate.ltk";

  KeychainStore(std::string service, KeychainBackend& backend,
                Clock now = [] { return std::chrono::system_clock::now(); });

  const std::string& service() const { return service_; }

  std::optional<SymmetricKey> key(const std::string& peerId) const;
  std::optional<PairedPeer> peer(const std::string& peerId) const;
  // Writes the whole entry for peer.id. Throws KeychainError.
  void save(const SymmetricKey& key, const PairedPeer& peer);
  void remove(const std::string& peerId);
  // Every stored phone, by name in code-point order.
  std::vector<PairedPeer> allPeers() const;
  // Marks an existing phone as seen now; does nothing for an unknown one.
  void touch(const std::string& peerId);

  struct Entry {
    PairedPeer peer;
    SymmetricKey key;
  };
  // The item data of an entry, and back (nothing if the data is not one).
  static Bytes encodeEntry(const Entry& entry);
  static std::optional<Entry> decodeEntry(ByteView data);

 private:
  std::optional<Entry> load(const std::string& peerId) const;

  std::string service_;
  KeychainBackend& backend_;
  Clock now_;
};

}  // namespace glidemate
