#include "kit/session/keychain_store.hpp"

#include <algorithm>
#include <cmath>

#include "kit/session/base64.hpp"
#include "kit/session/keychain_error.hpp"
#include "kit/session/secret_json.hpp"

namespace glidemate {
namespace {

using SystemTime = std::chrono::system_clock::time_point;

// 2001-01-01 00:00:00 UTC, the origin of stored dates.
constexpr std::chrono::sys_seconds referenceDate{std::chrono::seconds(978307200)};

double toReferenceSeconds(SystemTime t) {
  return std::chrono::duration<double>(t - referenceDate).count();
}

std::optional<SystemTime> fromReferenceSeconds(const SecretJson& value) {
  if (!value.is_number()) return std::nullopt;
  const double seconds = value.get<double>();
  // Beyond a few hundred years the nanosecond clock would overflow.
  if (!std::isfinite(seconds) || std::fabs(seconds) > 1e10) return std::nullopt;
  return referenceDate + std::chrono::duration_cast<SystemTime::duration>(
                             std::chrono::duration<double>(seconds));
}

}  // namespace

KeychainStore::KeychainStore(std::string service, KeychainBackend& backend, Clock now)
    : service_(std::move(service)), backend_(backend), now_(std::move(now)) {}

Bytes KeychainStore::encodeEntry(const Entry& entry) {
  SecretJson peer = {
      {"id", SecretString(entry.peer.id.begin(), entry.peer.id.end())},
      {"name", SecretString(entry.peer.name.begin(), entry.peer.name.end())},
      {"pairedAt", toReferenceSeconds(entry.peer.pairedAt)},
      {"lastSeen", toReferenceSeconds(entry.peer.lastSeen)},
  };
  std::string keyText = Base64::encode(entry.key.view());
  SecretJson document = {{"peer", std::move(peer)}, {"key", SecretString(keyText.begin(), keyText.end())}};
  OPENSSL_cleanse(keyText.data(), keyText.size());
  const SecretString text = document.dump();
  return Bytes(text.begin(), text.end());
}

std::optional<KeychainStore::Entry> KeychainStore::decodeEntry(ByteView data) {
  const auto document = SecretJson::parse(data.begin(), data.end(), nullptr, false);
  if (!document.is_object()) return std::nullopt;
  const auto peer = document.find("peer");
  const auto key = document.find("key");
  if (peer == document.end() || !peer->is_object() || key == document.end() || !key->is_string()) {
    return std::nullopt;
  }
  const auto id = peer->find("id");
  const auto name = peer->find("name");
  if (id == peer->end() || !id->is_string() || name == peer->end() || !name->is_string()) {
    return std::nullopt;
  }
  const auto pairedAt = peer->contains("pairedAt") ? fromReferenceSeconds(peer->at("pairedAt"))
                                                   : std::nullopt;
  const auto lastSeen = peer->contains("lastSeen") ? fromReferenceSeconds(peer->at("lastSeen"))
                                                   : std::nullopt;
  auto keyBytes = Base64::decode(key->get_ref<const SecretString&>());
  if (!pairedAt || !lastSeen || !keyBytes || keyBytes->size() != SymmetricKey::byteCount) {
    if (keyBytes) OPENSSL_cleanse(keyBytes->data(), keyBytes->size());
    return std::nullopt;
  }
  const auto& idText = id->get_ref<const SecretString&>();
  const auto& nameText = name->get_ref<const SecretString&>();
  Entry entry{PairedPeer{std::string(idText.begin(), idText.end()), std::string(nameText.begin(), nameText.end()),
                         *pairedAt, *lastSeen},
              SymmetricKey(*keyBytes)};
  OPENSSL_cleanse(keyBytes->data(), keyBytes->size());
  return entry;
}

std::optional<KeychainStore::Entry> KeychainStore::load(const std::string& peerId) const {
  auto data = backend_.copy(service_, peerId);
  if (!data) return std::nullopt;
  auto entry = decodeEntry(*data);
  OPENSSL_cleanse(data->data(), data->size());
  return entry;
}

std::optional<SymmetricKey> KeychainStore::key(const std::string& peerId) const {
  auto entry = load(peerId);
  if (!entry) return std::nullopt;
  return std::move(entry->key);
}

std::optional<PairedPeer> KeychainStore::peer(const std::string& peerId) const {
  auto entry = load(peerId);
  if (!entry) return std::nullopt;
  return entry->peer;
}

void KeychainStore::save(const SymmetricKey& key, const PairedPeer& peer) {
  Bytes data = encodeEntry(Entry{peer, key});
  std::int32_t status = backend_.update(service_, peer.id, data);
  if (status == KeychainStatus::itemNotFound) status = backend_.add(service_, peer.id, data);
  OPENSSL_cleanse(data.data(), data.size());
  if (status != KeychainStatus::success) throw KeychainError(status);
}

void KeychainStore::remove(const std::string& peerId) { backend_.remove(service_, peerId); }

std::vector<PairedPeer> KeychainStore::allPeers() const {
  std::vector<PairedPeer> peers;
  for (const auto& account : backend_.accounts(service_)) {
    if (auto entry = load(account)) peers.push_back(std::move(entry->peer));
  }
  std::stable_sort(peers.begin(), peers.end(),
                   [](const PairedPeer& a, const PairedPeer& b) { return a.name < b.name; });
  return peers;
}

void KeychainStore::touch(const std::string& peerId) {
  auto entry = load(peerId);
  if (!entry) return;
  entry->peer.lastSeen = now_();
  try {
    save(entry->key, entry->peer);
  } catch (const KeychainError&) {
    // Last-seen times are a courtesy; a failed write loses nothing else.
  }
}

}  // namespace glidemate
