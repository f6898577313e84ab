#include "kit/session/session_keys.hpp"

#include <string_view>

#include "kit/session/hkdf_sha256.hpp"

namespace glidemate {
namespace {

constexpr std::string_view sessionInfoLabel = "glidemate/session/v1";
constexpr std::string_view longTermInfoLabel = "glidemate/ltk/v1";

ByteView ascii(std::string_view text) {
  return ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

}  // namespace

SessionKeys SessionKeys::derive(const SharedSecret& sharedSecret, const SymmetricKey& longTermKey,
                                ByteView transcript) {
  // The info is label ‖ transcript; it is not secret, but the output is.
  Bytes info(ascii(sessionInfoLabel).begin(), ascii(sessionInfoLabel).end());
  info.insert(info.end(), transcript.begin(), transcript.end());
  SecretBytes<4 * SymmetricKey::byteCount> okm;
  HkdfSha256::derive(sharedSecret.view(), longTermKey.view(), info, okm.writable());
  const ByteView all = okm.view();
  constexpr std::size_t n = SymmetricKey::byteCount;
  return SessionKeys{
      SymmetricKey(all.subspan(0 * n, n)),
      SymmetricKey(all.subspan(1 * n, n)),
      SymmetricKey(all.subspan(2 * n, n)),
      SymmetricKey(all.subspan(3 * n, n)),
  };
}

SymmetricKey SessionKeys::deriveLongTermKey(const SharedSecret& sharedSecret, ByteView transcript) {
  SymmetricKey key;
  HkdfSha256::derive(sharedSecret.view(), transcript, ascii(longTermInfoLabel), key.writable());
  return key;
}

}  // namespace glidemate
