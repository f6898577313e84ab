#include "kit/session/handshake_message.hpp"

#include <limits>
#include <nlohmann/json.hpp>

#include "kit/session/base64.hpp"
#include "kit/session/handshake_error.hpp"

namespace glidemate {
namespace {

// Insertion order, so that keys come out in declaration order.
using Json = nlohmann::ordered_json;

Bytes dump(const Json& json) {
  // Text that is not valid UTF-8 is written with replacement characters
  // rather than failing the handshake.
  const std::string text = json.dump(-1, ' ', false, Json::error_handler_t::replace);
  return Bytes(text.begin(), text.end());
}

[[noreturn]] void fail() { throw HandshakeError::decodingFailed(); }

Json parseObject(ByteView bytes) {
  Json json = Json::parse(bytes.begin(), bytes.end(), nullptr, false);
  if (json.is_discarded() || !json.is_object()) fail();
  return json;
}

const Json* find(const Json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end() || it->is_null()) return nullptr;
  return &*it;
}

const Json& required(const Json& object, const char* key) {
  const Json* value = find(object, key);
  if (value == nullptr) fail();
  return *value;
}

std::string stringField(const Json& object, const char* key) {
  const Json& value = required(object, key);
  if (!value.is_string()) fail();
  return value.get<std::string>();
}

Bytes bytesField(const Json& object, const char* key) {
  const Json& value = required(object, key);
  if (!value.is_string()) fail();
  auto bytes = Base64::decode(value.get_ref<const std::string&>());
  if (!bytes) fail();
  return std::move(*bytes);
}

bool boolField(const Json& object, const char* key) {
  const Json& value = required(object, key);
  if (!value.is_boolean()) fail();
  return value.get<bool>();
}

std::int64_t intValue(const Json& value) {
  if (value.is_number_unsigned()) {
    const auto u = value.get<std::uint64_t>();
    if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) fail();
    return static_cast<std::int64_t>(u);
  }
  if (value.is_number_integer()) return value.get<std::int64_t>();
  fail();
}

std::int64_t intField(const Json& object, const char* key) { return intValue(required(object, key)); }

std::uint16_t u16Value(const Json& value) {
  const std::int64_t n = intValue(value);
  if (n < 0 || n > std::numeric_limits<std::uint16_t>::max()) fail();
  return static_cast<std::uint16_t>(n);
}

}  // namespace

namespace HandshakeMessage {

Bytes Hello::toJson() const {
  return dump(Json{{"v", v},
                   {"clientId", clientId},
                   {"clientName", clientName},
                   {"ephemeral", Base64::encode(ephemeral)},
                   {"nonce", Base64::encode(nonce)},
                   {"hasKey", hasKey}});
}

Hello Hello::fromJson(ByteView bytes) {
  const Json json = parseObject(bytes);
  return Hello{intField(json, "v"),           stringField(json, "clientId"), stringField(json, "clientName"),
               bytesField(json, "ephemeral"), bytesField(json, "nonce"),     boolField(json, "hasKey")};
}

Bytes HelloAck::toJson() const {
  return dump(Json{{"v", v},
                   {"hostId", hostId},
                   {"hostName", hostName},
                   {"ephemeral", Base64::encode(ephemeral)},
                   {"nonce", Base64::encode(nonce)},
                   {"paired", paired}});
}

HelloAck HelloAck::fromJson(ByteView bytes) {
  const Json json = parseObject(bytes);
  return HelloAck{intField(json, "v"),           stringField(json, "hostId"), stringField(json, "hostName"),
                  bytesField(json, "ephemeral"), bytesField(json, "nonce"),   boolField(json, "paired")};
}

Bytes PairCommit::toJson() const {
  return dump(Json{{"round", round}, {"commitment", Base64::encode(commitment)}});
}

PairCommit PairCommit::fromJson(ByteView bytes) {
  const Json json = parseObject(bytes);
  return PairCommit{intField(json, "round"), bytesField(json, "commitment")};
}

Bytes PairReveal::toJson() const { return dump(Json{{"round", round}, {"nonce", Base64::encode(nonce)}}); }

PairReveal PairReveal::fromJson(ByteView bytes) {
  const Json json = parseObject(bytes);
  return PairReveal{intField(json, "round"), bytesField(json, "nonce")};
}

Bytes Auth::toJson() const { return dump(Json{{"mac", Base64::encode(mac)}}); }

Auth Auth::fromJson(ByteView bytes) { return Auth{bytesField(parseObject(bytes), "mac")}; }

Bytes AuthOK::toJson() const {
  Json json{{"mac", Base64::encode(mac)}, {"sessionId", sessionId}};
  if (udpPort) json["udpPort"] = *udpPort;
  return dump(json);
}

AuthOK AuthOK::fromJson(ByteView bytes) {
  const Json json = parseObject(bytes);
  AuthOK message{bytesField(json, "mac"), u16Value(required(json, "sessionId")), std::nullopt};
  if (const Json* port = find(json, "udpPort")) message.udpPort = u16Value(*port);
  return message;
}

Bytes Failure::toJson() const { return dump(Json{{"reason", reason}}); }

Failure Failure::fromJson(ByteView bytes) { return Failure{stringField(parseObject(bytes), "reason")}; }

}  // namespace HandshakeMessage

HandshakeBody splitHandshakeBody(ByteView body) {
  if (body.empty() || body[0] < HandshakeMessage::firstType || body[0] > HandshakeMessage::lastType) {
    throw HandshakeError::unexpectedRecord();
  }
  return HandshakeBody{body[0], body.subspan(1)};
}

}  // namespace glidemate
