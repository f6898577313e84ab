#include <gtest/gtest.h>

#include "kit/wire/byte_reader.hpp"
#include "kit/wire/byte_writer.hpp"
#include "kit/wire/codec_error.hpp"

namespace glidemate {
namespace {

TEST(ByteWriter, WritesLittleEndian) {
  ByteWriter w;
  w.write(std::uint8_t{0xAB});
  w.write(std::uint16_t{0x1234});
  w.write(std::uint32_t{0x01020304});
  w.write(std::uint64_t{0x0102030405060708});
  w.write(1.0f);
  w.write(Bytes{0xEE});
  EXPECT_EQ(w.data(), (Bytes{0xAB, 0x34, 0x12, 0x04, 0x03, 0x02, 0x01, 0x08, 0x07, 0x06, 0x05,
                             0x04, 0x03, 0x02, 0x01, 0x00, 0x00, 0x80, 0x3F, 0xEE}));
}

TEST(ByteReader, ReadsLittleEndian) {
  const Bytes input{0x34, 0x12, 0x00, 0x00, 0x80, 0x3F, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02,
                    0x01, 0x09};
  ByteReader r(input);
  EXPECT_EQ(r.readU16(), 0x1234);
  EXPECT_EQ(r.readFloat(), 1.0f);
  EXPECT_EQ(r.readU64(), 0x0102030405060708u);
  EXPECT_EQ(r.remaining(), 1u);
  EXPECT_EQ(r.readU8(), 9);
  EXPECT_EQ(r.remaining(), 0u);
}

TEST(ByteReader, ReadPastTheEndThrowsTruncatedAndKeepsOffset) {
  const Bytes input{1, 2, 3};
  ByteReader r(input);
  r.readU8();
  EXPECT_THROW(r.readU32(), CodecError);
  try {
    r.readU64();
  } catch (const CodecError& e) {
    EXPECT_EQ(e, CodecError::truncated());
  }
  EXPECT_THROW(r.readBytes(3), CodecError);
  EXPECT_EQ(r.offset(), 1u);
  EXPECT_EQ(r.readU16(), 0x0302);
  EXPECT_THROW(r.readU8(), CodecError);
}

TEST(CodecError, ComparesByCaseAndPayloadAndDescribesItself) {
  EXPECT_EQ(CodecError::trailingBytes(1), CodecError::trailingBytes(1));
  EXPECT_NE(CodecError::trailingBytes(1), CodecError::trailingBytes(2));
  EXPECT_NE(CodecError::unknownMessageType(2), CodecError::unknownRecordKind(2));
  EXPECT_STREQ(CodecError::recordTooLarge(65535).what(), "record too large: body of 65535 bytes");
}

}  // namespace
}  // namespace glidemate
