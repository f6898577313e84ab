// A stored key item's data, as the key store reads it on every lookup:
// whatever reads as an entry writes back as data that reads equal.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_check.hpp"
#include "kit/session/keychain_store.hpp"

using namespace glidemate;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto entry = KeychainStore::decodeEntry(ByteView(data, size));
  if (!entry) return 0;
  const auto again = KeychainStore::decodeEntry(KeychainStore::encodeEntry(*entry));
  fuzz::require(again.has_value(), "a read entry writes back readable");
  fuzz::require(again->peer.id == entry->peer.id && again->peer.name == entry->peer.name &&
                    again->key == entry->key,
                "a read entry writes back the same phone and key");
  return 0;
}
