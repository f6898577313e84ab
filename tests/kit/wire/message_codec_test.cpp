#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "kit/wire/codec_error.hpp"
#include "kit/wire/message_codec.hpp"
#include "tests/support/thrown.hpp"

namespace glidemate {
namespace {

std::optional<CodecError> decodeError(const Bytes& bytes) {
  return testing::thrown<CodecError>([&] { MessageCodec::decode(bytes); });
}

Bytes floatBytes(float f) {
  const auto bits = std::bit_cast<std::uint32_t>(f);
  return {static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
          static_cast<std::uint8_t>(bits >> 16), static_cast<std::uint8_t>(bits >> 24)};
}

Bytes pointerMoveBytes(float dx, float dy) {
  Bytes out{0x10};
  for (float f : {dx, dy}) {
    const Bytes b = floatBytes(f);
    out.insert(out.end(), b.begin(), b.end());
  }
  return out;
}

TEST(MessageCodec, ByteExactForms) {
  struct Case {
    Message message;
    Bytes bytes;
  };
  const std::vector<Case> cases{
      {Message::Ping{0x0102030405060708}, {0x01, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01}},
      {Message::PointerMove{1.0f, -2.0f}, {0x10, 0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0xC0}},
      {Message::Button{MouseButton::right, true}, {0x12, 0x01, 0x01}},
      {Message::Key{KeyboardKey::playPause, KeyModifiers::of({KeyModifiers::command(),
                                                              KeyModifiers::shift()})},
       {0x14, 0x0D, 0x09}},
      {Message::Text{""}, {0x15}},
      {Message::Scroll{ScrollGesturePhase::ended, 0.0f, 1.0f},
       {0x11, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x3F}},
      {Message::Command{Command::GetVolume{}},
       {0x20, '{', '"', 'g', 'e', 't', 'V', 'o', 'l', 'u', 'm', 'e', '"', ':', '{', '}', '}'}},
      {Message::AppIconChunk{"ab", 5, 2, {9, 8}},
       {0x22, 0x02, 0x00, 'a', 'b', 0x05, 0, 0, 0, 0x02, 0, 0, 0, 0x02, 0x00, 9, 8}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MessageCodec::encode(c.message), c.bytes);
    EXPECT_EQ(MessageCodec::decode(c.bytes), c.message);
  }
}

TEST(MessageCodec, EveryCaseRoundTrips) {
  const std::vector<Message> messages{
      Message::Ping{0},
      Message::Pong{std::numeric_limits<std::uint64_t>::max()},
      Message::PointerMove{-100000.0f, 0.25f},
      Message::Button{MouseButton::left, false},
      Message::Gesture{SystemGesture::spotlight},
      Message::Key{KeyboardKey::keyboardLightDown, KeyModifiers{0xF0}},
      Message::Text{"héllo, 世界 👋"},
      Message::Command{Command::SetVolume{0.5f}},
      Message::Event{Event::Failed{"Volume", "No output device."}},
      Message::AppIconChunk{"$screen", 70000, 65536, Bytes(4464, 0x7F)},
      Message::Scroll{ScrollGesturePhase::cancelled, 3.5f, -7.0f},
  };
  ASSERT_EQ(messages.size(), std::variant_size_v<Message::Case>);
  for (const auto& m : messages) EXPECT_EQ(MessageCodec::decode(MessageCodec::encode(m)), m);
}

TEST(MessageCodec, RejectsMalformedBytes) {
  Bytes pingPlusOne(10, 0);
  pingPlusOne[0] = 0x01;
  const Bytes invalidUtf8{0x15, 0xC3, 0x28};
  const Bytes surrogate{0x15, 0xED, 0xA0, 0x80};
  const Bytes overlong{0x15, 0xC0, 0xAF};
  struct Case {
    const char* name;
    Bytes bytes;
    CodecError error;
  };
  const std::vector<Case> cases{
      {"empty", {}, CodecError::truncated()},
      {"unknown type", {0x03}, CodecError::unknownMessageType(3)},
      {"unknown type 0x23", {0x23, 0x00}, CodecError::unknownMessageType(0x23)},
      {"ping with a byte left over", pingPlusOne, CodecError::trailingBytes(1)},
      {"short ping", {0x01, 1, 2, 3}, CodecError::truncated()},
      {"button 2", {0x12, 0x02, 0x01}, CodecError::unknownMessageType(2)},
      {"button without state", {0x12, 0x00}, CodecError::truncated()},
      {"gesture 8", {0x13, 0x08}, CodecError::unknownMessageType(8)},
      {"key 20", {0x14, 20, 0}, CodecError::unknownMessageType(20)},
      {"scroll phase 5", {0x11, 5, 0, 0, 0, 0, 0, 0, 0, 0}, CodecError::unknownMessageType(5)},
      {"pointer move one float", {0x10, 0, 0, 0, 0}, CodecError::truncated()},
      {"pointer move NaN", pointerMoveBytes(std::nanf(""), 0), CodecError::malformedRecord()},
      {"pointer move infinity", pointerMoveBytes(0, -INFINITY), CodecError::malformedRecord()},
      {"pointer move too far", pointerMoveBytes(std::nextafter(100000.0f, INFINITY), 0),
       CodecError::malformedRecord()},
      {"text not UTF-8", invalidUtf8, CodecError::malformedRecord()},
      {"text with a surrogate", surrogate, CodecError::malformedRecord()},
      {"text overlong", overlong, CodecError::malformedRecord()},
      {"command not JSON", {0x20, '{'}, CodecError::malformedRecord()},
      {"command type byte alone", {0x20}, CodecError::malformedRecord()},
      {"event holding a command", {0x21, '{', '"', 'g', 'e', 't', 'A', 'p', 'p', 's', '"', ':',
                                   '{', '}', '}'},
       CodecError::malformedRecord()},
      {"icon without id length", {0x22, 0x01}, CodecError::truncated()},
      {"icon id past the end", {0x22, 0x05, 0x00, 'a'}, CodecError::truncated()},
      {"icon id not UTF-8", {0x22, 0x01, 0x00, 0xFF, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       CodecError::malformedRecord()},
      {"icon chunk past the end", {0x22, 0x00, 0x00, 1, 0, 0, 0, 0, 0, 0, 0, 0x02, 0x00, 7},
       CodecError::truncated()},
      {"icon with a byte left over", {0x22, 0x00, 0x00, 1, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x00, 7},
       CodecError::trailingBytes(1)},
  };
  for (const auto& c : cases) EXPECT_EQ(decodeError(c.bytes), c.error) << c.name;
}

TEST(MessageCodec, EdgeValuesThatDecode) {
  EXPECT_EQ(MessageCodec::decode(Bytes{0x12, 0x01, 0x05}),
            Message(Message::Button{MouseButton::right, false}));
  EXPECT_EQ(MessageCodec::decode(pointerMoveBytes(100000.0f, -100000.0f)),
            Message(Message::PointerMove{100000.0f, -100000.0f}));
}

TEST(MessageCodec, UnencodableJsonLeavesTheTypeByteAlone) {
  EXPECT_EQ(MessageCodec::encode(Message::Command{Command::SetVolume{NAN}}), Bytes{0x20});
  VolumeStatus status{INFINITY, false, "Speakers", true};
  EXPECT_EQ(MessageCodec::encode(Message::Event{Event::Volume{status}}), Bytes{0x21});
}

TEST(MessageCodec, OversizedIconChunkIsNotSentWithAWrappedLength) {
  const Message tooBig = Message::AppIconChunk{"id", 70000, 0, Bytes(65536, 1)};
  const Bytes encoded = MessageCodec::encode(tooBig);
  EXPECT_EQ(encoded, Bytes{0x22});
  EXPECT_EQ(decodeError(encoded), CodecError::truncated());
}

TEST(Message, PreferredChannel) {
  struct Case {
    Message message;
    Channel channel;
  };
  const std::vector<Case> cases{
      {Message::Ping{1}, Channel::unreliable},
      {Message::Pong{1}, Channel::unreliable},
      {Message::PointerMove{1, 1}, Channel::unreliable},
      {Message::Scroll{ScrollGesturePhase::changed, 0, 1}, Channel::unreliable},
      {Message::Scroll{ScrollGesturePhase::began, 0, 1}, Channel::reliable},
      {Message::Scroll{ScrollGesturePhase::ended, 0, 0}, Channel::reliable},
      {Message::Button{MouseButton::left, true}, Channel::reliable},
      {Message::Text{"a"}, Channel::reliable},
      {Message::Command{Command::GetApps{}}, Channel::reliable},
  };
  for (const auto& c : cases) EXPECT_EQ(c.message.preferredChannel(), c.channel);
}

TEST(KeyboardKey, MediaKeysAreThirteenThroughNineteen) {
  for (std::uint8_t raw = 0; raw < keyboardKeyCount; ++raw) {
    EXPECT_EQ(isMediaKey(static_cast<KeyboardKey>(raw)), raw >= 13) << int(raw);
  }
}

}  // namespace
}  // namespace glidemate
