#include "kit/wire/message_codec.hpp"

#include <cmath>
#include <string>

#include "kit/wire/byte_reader.hpp"
#include "kit/wire/byte_writer.hpp"
#include "kit/wire/codec_error.hpp"
#include "kit/wire/utf8.hpp"

namespace glidemate {
namespace {

namespace type {
constexpr std::uint8_t ping = 0x01;
constexpr std::uint8_t pong = 0x02;
constexpr std::uint8_t pointerMove = 0x10;
constexpr std::uint8_t scroll = 0x11;
constexpr std::uint8_t button = 0x12;
constexpr std::uint8_t gesture = 0x13;
constexpr std::uint8_t key = 0x14;
constexpr std::uint8_t text = 0x15;
constexpr std::uint8_t command = 0x20;
constexpr std::uint8_t event = 0x21;
constexpr std::uint8_t appIconChunk = 0x22;
}  // namespace type

// The largest pointer or scroll delta a phone may send, in points.
constexpr float maximumDelta = 100000.0f;

ByteView asBytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string asString(ByteView bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

struct Encoder {
  ByteWriter& w;

  void operator()(const Message::Ping& m) const {
    w.write(type::ping);
    w.write(m.sendTimeNs);
  }
  void operator()(const Message::Pong& m) const {
    w.write(type::pong);
    w.write(m.sendTimeNs);
  }
  void operator()(const Message::PointerMove& m) const {
    w.write(type::pointerMove);
    w.write(m.dx);
    w.write(m.dy);
  }
  void operator()(const Message::Button& m) const {
    w.write(type::button);
    w.write(static_cast<std::uint8_t>(m.button));
    w.write(static_cast<std::uint8_t>(m.isDown ? 1 : 0));
  }
  void operator()(const Message::Gesture& m) const {
    w.write(type::gesture);
    w.write(static_cast<std::uint8_t>(m.gesture));
  }
  void operator()(const Message::Key& m) const {
    w.write(type::key);
    w.write(static_cast<std::uint8_t>(m.key));
    w.write(m.modifiers.rawValue);
  }
  void operator()(const Message::Text& m) const {
    w.write(type::text);
    w.write(asBytes(m.text));
  }
  void operator()(const Message::Command& m) const {
    w.write(type::command);
    writeJson([&] { return m.command.toJson(); });
  }
  void operator()(const Message::Event& m) const {
    w.write(type::event);
    writeJson([&] { return m.event.toJson(); });
  }
  void operator()(const Message::AppIconChunk& m) const {
    w.write(type::appIconChunk);
    // Lengths travel as u16; rather than send a wrapped length that would
    // corrupt the reassembled image, leave the type byte alone for the
    // receiver to reject.
    if (m.bundleId.size() > 0xFFFF || m.chunk.size() > 0xFFFF) return;
    w.write(static_cast<std::uint16_t>(m.bundleId.size()));
    w.write(asBytes(m.bundleId));
    w.write(m.totalBytes);
    w.write(m.offset);
    w.write(static_cast<std::uint16_t>(m.chunk.size()));
    w.write(m.chunk);
  }
  void operator()(const Message::Scroll& m) const {
    w.write(type::scroll);
    w.write(static_cast<std::uint8_t>(m.phase));
    w.write(m.dx);
    w.write(m.dy);
  }

  // A document that cannot be written leaves the type byte alone.
  template <class F>
  void writeJson(F toJson) const {
    try {
      w.write(asBytes(toJson()));
    } catch (const JsonCodingError&) {
    }
  }
};

std::size_t encodedSize(const Message& message) {
  if (const auto* text = std::get_if<Message::Text>(&message.value)) return 1 + text->text.size();
  if (const auto* chunk = std::get_if<Message::AppIconChunk>(&message.value)) {
    return 15 + chunk->bundleId.size() + chunk->chunk.size();
  }
  return 16;
}

float readDelta(ByteReader& r) {
  const float value = r.readFloat();
  if (!std::isfinite(value) || std::fabs(value) > maximumDelta) throw CodecError::malformedRecord();
  return value;
}

// An enumerated byte with no case is reported as an unknown type.
std::uint8_t readEnumByte(ByteReader& r, std::uint8_t count) {
  const std::uint8_t value = r.readU8();
  if (value >= count) throw CodecError::unknownMessageType(value);
  return value;
}

std::string readUtf8(ByteView bytes) {
  if (!isValidUtf8(bytes)) throw CodecError::malformedRecord();
  return asString(bytes);
}

template <class T>
T readJson(ByteView bytes) {
  try {
    return T::fromJson(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  } catch (const JsonCodingError&) {
    throw CodecError::malformedRecord();
  }
}

Message decodeFields(std::uint8_t typeByte, ByteReader& r) {
  switch (typeByte) {
    case type::ping:
      return Message::Ping{r.readU64()};
    case type::pong:
      return Message::Pong{r.readU64()};
    case type::pointerMove: {
      const float dx = readDelta(r);
      const float dy = readDelta(r);
      return Message::PointerMove{dx, dy};
    }
    case type::scroll: {
      const auto phase = static_cast<ScrollGesturePhase>(readEnumByte(r, 5));
      const float dx = readDelta(r);
      const float dy = readDelta(r);
      return Message::Scroll{phase, dx, dy};
    }
    case type::button: {
      const auto button = static_cast<MouseButton>(readEnumByte(r, 2));
      return Message::Button{button, r.readU8() == 1};
    }
    case type::gesture:
      return Message::Gesture{static_cast<SystemGesture>(readEnumByte(r, 8))};
    case type::key: {
      const auto key = static_cast<KeyboardKey>(readEnumByte(r, keyboardKeyCount));
      return Message::Key{key, KeyModifiers{r.readU8()}};
    }
    case type::text:
      return Message::Text{readUtf8(r.readRest())};
    case type::command:
      return Message::Command{readJson<Command>(r.readRest())};
    case type::event:
      return Message::Event{readJson<Event>(r.readRest())};
    case type::appIconChunk: {
      const std::uint16_t idLength = r.readU16();
      std::string bundleId = readUtf8(r.readBytes(idLength));
      const std::uint32_t totalBytes = r.readU32();
      const std::uint32_t offset = r.readU32();
      const std::uint16_t chunkLength = r.readU16();
      const ByteView chunk = r.readBytes(chunkLength);
      return Message::AppIconChunk{std::move(bundleId), totalBytes, offset,
                                   Bytes(chunk.begin(), chunk.end())};
    }
    default:
      throw CodecError::unknownMessageType(typeByte);
  }
}

}  // namespace

Bytes MessageCodec::encode(const Message& message) {
  ByteWriter writer(encodedSize(message));
  std::visit(Encoder{writer}, message.value);
  return std::move(writer).data();
}

Message MessageCodec::decode(ByteView data) {
  ByteReader reader(data);
  const std::uint8_t typeByte = reader.readU8();
  Message message = decodeFields(typeByte, reader);
  if (reader.remaining() > 0) {
    throw CodecError::trailingBytes(static_cast<std::int64_t>(reader.remaining()));
  }
  return message;
}

}  // namespace glidemate
