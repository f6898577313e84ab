#include <gtest/gtest.h>

#include "kit/wire/codec_error.hpp"
#include "kit/wire/record_framer.hpp"
#include "tests/support/thrown.hpp"

namespace glidemate {
namespace {

template <class F>
std::optional<CodecError> errorOf(F&& f) {
  return testing::thrown<CodecError>(std::forward<F>(f));
}

TEST(RecordFramer, EncodesLengthKindAndBody) {
  EXPECT_EQ(RecordFramer::encode(RecordKind::encrypted, {}), (Bytes{0x01, 0x00, 0x01}));
  EXPECT_EQ(RecordFramer::encode(RecordKind::handshake, Bytes{0xAA, 0xBB}),
            (Bytes{0x03, 0x00, 0x00, 0xAA, 0xBB}));
}

TEST(RecordFramer, LargestBodyFitsAndOneMoreIsRejected) {
  const Bytes largest(65534, 0x5A);
  const Bytes encoded = RecordFramer::encode(RecordKind::encrypted, largest);
  ASSERT_EQ(encoded.size(), 65537u);
  EXPECT_EQ(encoded[0], 0xFF);
  EXPECT_EQ(encoded[1], 0xFF);
  EXPECT_EQ(RecordFramer::decodeSingle(encoded), (Record{RecordKind::encrypted, largest}));
  EXPECT_EQ(errorOf([] { RecordFramer::encode(RecordKind::encrypted, Bytes(65535)); }),
            CodecError::recordTooLarge(65535));
}

TEST(RecordFramer, EmptyBodyRoundTrips) {
  RecordFramer framer;
  framer.append(RecordFramer::encode(RecordKind::handshake, {}));
  EXPECT_EQ(framer.next(), (Record{RecordKind::handshake, {}}));
  EXPECT_EQ(framer.next(), std::nullopt);
}

TEST(RecordFramer, ByteAtATimeYieldsEachRecordOnItsLastByte) {
  Bytes stream = RecordFramer::encode(RecordKind::handshake, Bytes{1, 2, 3});
  const Bytes second = RecordFramer::encode(RecordKind::encrypted, Bytes{4});
  stream.insert(stream.end(), second.begin(), second.end());
  const std::vector<std::size_t> recordEnds{6, 10};

  RecordFramer framer;
  std::vector<Record> got;
  for (std::size_t i = 0; i < stream.size(); ++i) {
    framer.append(ByteView(&stream[i], 1));
    auto record = framer.next();
    const bool expected = std::count(recordEnds.begin(), recordEnds.end(), i + 1) == 1;
    EXPECT_EQ(record.has_value(), expected) << "after byte " << i + 1;
    if (record) got.push_back(*record);
  }
  EXPECT_EQ(got, (std::vector<Record>{{RecordKind::handshake, {1, 2, 3}},
                                      {RecordKind::encrypted, {4}}}));
}

TEST(RecordFramer, TwoRecordsInOneAppendThenEmpty) {
  RecordFramer framer;
  Bytes both = RecordFramer::encode(RecordKind::handshake, Bytes{7});
  const Bytes second = RecordFramer::encode(RecordKind::encrypted, Bytes{8, 9});
  both.insert(both.end(), second.begin(), second.end());
  framer.append(both);
  EXPECT_EQ(framer.next(), (Record{RecordKind::handshake, {7}}));
  EXPECT_EQ(framer.next(), (Record{RecordKind::encrypted, {8, 9}}));
  EXPECT_EQ(framer.next(), std::nullopt);
  EXPECT_EQ(framer.bufferedBytes(), 0u);
}

TEST(RecordFramer, BadPrefixOrKindRepeatsOnEveryCall) {
  struct Case {
    Bytes stream;
    CodecError error;
  };
  const std::vector<Case> cases{
      {{0x00, 0x00, 0x01}, CodecError::malformedRecord()},
      {{0x01, 0x00, 0x02}, CodecError::unknownRecordKind(2)},
      {{0x02, 0x00, 0xFF, 0x00}, CodecError::unknownRecordKind(0xFF)},
  };
  for (const auto& c : cases) {
    RecordFramer framer;
    framer.append(c.stream);
    EXPECT_EQ(errorOf([&] { framer.next(); }), c.error);
    EXPECT_EQ(errorOf([&] { framer.next(); }), c.error);
  }
}

TEST(RecordFramer, ConsumedPrefixIsDroppedOnceLargeEnough) {
  RecordFramer framer;
  // 5000 consumed bytes in front of half a record: compaction keeps only the half.
  Bytes stream;
  for (int i = 0; i < 5; ++i) {
    const Bytes r = RecordFramer::encode(RecordKind::encrypted, Bytes(997, 1));
    stream.insert(stream.end(), r.begin(), r.end());
  }
  const Bytes last = RecordFramer::encode(RecordKind::encrypted, Bytes{1, 2, 3, 4});
  stream.insert(stream.end(), last.begin(), last.begin() + 3);
  framer.append(stream);
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(framer.next());
  EXPECT_EQ(framer.next(), std::nullopt);
  EXPECT_EQ(framer.bufferedBytes(), 3u);
  framer.append(ByteView(last).subspan(3));
  EXPECT_EQ(framer.next(), (Record{RecordKind::encrypted, {1, 2, 3, 4}}));
}

TEST(RecordFramer, DecodeSingle) {
  const Bytes one = RecordFramer::encode(RecordKind::encrypted, Bytes{1, 2});
  Bytes two = one;
  two.insert(two.end(), one.begin(), one.end());
  Bytes stray = one;
  stray.push_back(0x05);

  EXPECT_EQ(RecordFramer::decodeSingle(one), (Record{RecordKind::encrypted, {1, 2}}));
  EXPECT_EQ(RecordFramer::decodeSingle(stray), (Record{RecordKind::encrypted, {1, 2}}));
  EXPECT_EQ(errorOf([&] { RecordFramer::decodeSingle(two); }), CodecError::malformedRecord());
  EXPECT_EQ(errorOf([&] { RecordFramer::decodeSingle(ByteView(one).first(4)); }),
            CodecError::truncated());
  EXPECT_EQ(errorOf([&] { RecordFramer::decodeSingle({}); }), CodecError::truncated());
  Bytes badSecond = one;
  badSecond.insert(badSecond.end(), {0x00, 0x00});
  EXPECT_EQ(errorOf([&] { RecordFramer::decodeSingle(badSecond); }), CodecError::malformedRecord());
}

}  // namespace
}  // namespace glidemate
