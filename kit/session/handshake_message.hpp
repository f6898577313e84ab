#pragma once

#include <concepts>
#include <cstdint>
#include <optional>
#include <string>

#include "kit/wire/bytes.hpp"

namespace glidemate {

// The seven messages of the handshake. Each travels as the body of a
// handshake record: one type byte, then the message as compact JSON whose
// keys are the field names, byte fields as standard Base64 with padding.
// Decoding accepts keys in any order and either form of an escaped slash;
// every key is required except AuthOK's udpPort. The session keeps the
// JSON bytes of the two hellos exactly as sent and received, because the
// transcript is hashed over them.
namespace HandshakeMessage {

struct Hello {
  static constexpr std::uint8_t type = 1;
  std::int64_t v = 0;
  std::string clientId;
  std::string clientName;
  Bytes ephemeral;
  Bytes nonce;
  bool hasKey = false;

  Bytes toJson() const;
  // Throws HandshakeError::decodingFailed.
  static Hello fromJson(ByteView json);
  bool operator==(const Hello&) const = default;
};

struct HelloAck {
  static constexpr std::uint8_t type = 2;
  std::int64_t v = 0;
  std::string hostId;
  std::string hostName;
  Bytes ephemeral;
  Bytes nonce;
  bool paired = false;

  Bytes toJson() const;
  static HelloAck fromJson(ByteView json);
  bool operator==(const HelloAck&) const = default;
};

struct PairCommit {
  static constexpr std::uint8_t type = 3;
  std::int64_t round = 0;
  Bytes commitment;

  Bytes toJson() const;
  static PairCommit fromJson(ByteView json);
  bool operator==(const PairCommit&) const = default;
};

struct PairReveal {
  static constexpr std::uint8_t type = 4;
  std::int64_t round = 0;
  Bytes nonce;

  Bytes toJson() const;
  static PairReveal fromJson(ByteView json);
  bool operator==(const PairReveal&) const = default;
};

struct Auth {
  static constexpr std::uint8_t type = 5;
  Bytes mac;

  Bytes toJson() const;
  static Auth fromJson(ByteView json);
  bool operator==(const Auth&) const = default;
};

struct AuthOK {
  static constexpr std::uint8_t type = 6;
  Bytes mac;
  std::uint16_t sessionId = 0;
  // The host's datagram port; the key is left out when there is none.
  std::optional<std::uint16_t> udpPort;

  Bytes toJson() const;
  static AuthOK fromJson(ByteView json);
  bool operator==(const AuthOK&) const = default;
};

struct Failure {
  static constexpr std::uint8_t type = 7;
  std::string reason;

  Bytes toJson() const;
  static Failure fromJson(ByteView json);
  bool operator==(const Failure&) const = default;
};

inline constexpr std::uint8_t firstType = Hello::type;
inline constexpr std::uint8_t lastType = Failure::type;

}  // namespace HandshakeMessage

template <class M>
concept HandshakeMessageType = requires(const M& m, ByteView json) {
  { M::type } -> std::convertible_to<std::uint8_t>;
  { m.toJson() } -> std::same_as<Bytes>;
  { M::fromJson(json) } -> std::same_as<M>;
};

struct EncodedHandshake {
  Bytes body;  // type byte ‖ JSON: the body of a handshake record
  Bytes json;  // the JSON alone, for the transcript
};

template <HandshakeMessageType M>
EncodedHandshake encodeHandshake(const M& message) {
  EncodedHandshake out;
  out.json = message.toJson();
  out.body.reserve(1 + out.json.size());
  out.body.push_back(M::type);
  out.body.insert(out.body.end(), out.json.begin(), out.json.end());
  return out;
}

// A handshake record body split into its type byte and JSON (a view into
// the body).
struct HandshakeBody {
  std::uint8_t type;
  ByteView json;
};

// Throws HandshakeError::unexpectedRecord for an empty body or a type byte
// outside 1...7. Only the message the session expects is decoded later.
HandshakeBody splitHandshakeBody(ByteView body);

}  // namespace glidemate
