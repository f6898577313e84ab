#include <gtest/gtest.h>

#include "kit/wire/icon_assembler.hpp"

namespace glidemate {
namespace {

using Outcome = IconAssembler::Outcome;
const Outcome incomplete = IconAssembler::Incomplete{};
const Outcome discarded = IconAssembler::Discarded{};

Bytes pattern(std::size_t n) {
  Bytes out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
  return out;
}

TEST(IconAssembler, ChunksSplitAtSizeWithOffsets) {
  const Bytes data = pattern(70000);
  const auto chunks = IconAssembler::chunks(data, 32768);
  ASSERT_EQ(chunks.size(), 3u);
  EXPECT_EQ(chunks[0].offset, 0u);
  EXPECT_EQ(chunks[1].offset, 32768u);
  EXPECT_EQ(chunks[2].offset, 65536u);
  EXPECT_EQ(chunks[2].bytes.size(), 70000u - 65536u);
  EXPECT_TRUE(IconAssembler::chunks({}, 32768).empty());
  EXPECT_THROW(IconAssembler::chunks(data, 0), std::invalid_argument);
}

TEST(IconAssembler, ReassemblesInOrderChunks) {
  const Bytes data = pattern(70000);
  const auto chunks = IconAssembler::chunks(data, 32768);
  IconAssembler assembler;
  EXPECT_EQ(assembler.accept("org.x", 70000, chunks[0].offset, chunks[0].bytes), incomplete);
  EXPECT_EQ(assembler.accept("org.x", 70000, chunks[1].offset, chunks[1].bytes), incomplete);
  EXPECT_EQ(assembler.accept("org.x", 70000, chunks[2].offset, chunks[2].bytes),
            Outcome(IconAssembler::Complete{data}));
  // Completed images leave nothing behind.
  EXPECT_EQ(assembler.accept("org.x", 70000, chunks[1].offset, chunks[1].bytes), discarded);
}

TEST(IconAssembler, RepeatedGappedOrMismatchedChunksDiscardTheImage) {
  const Bytes data = pattern(70000);
  const auto chunks = IconAssembler::chunks(data, 32768);
  {
    IconAssembler a;
    a.accept("org.x", 70000, 0, chunks[0].bytes);
    a.accept("org.x", 70000, chunks[1].offset, chunks[1].bytes);
    EXPECT_EQ(a.accept("org.x", 70000, chunks[1].offset, chunks[1].bytes), discarded);
    EXPECT_EQ(a.accept("org.x", 70000, chunks[2].offset, chunks[2].bytes), discarded);
  }
  {
    IconAssembler a;
    a.accept("org.x", 70000, 0, chunks[0].bytes);
    EXPECT_EQ(a.accept("org.x", 70001, chunks[1].offset, chunks[1].bytes), discarded);
  }
  {
    IconAssembler a;
    EXPECT_EQ(a.accept("org.x", 10, 0, Bytes(11)), discarded);
    EXPECT_EQ(a.accept("org.x", 10, 5, Bytes(5)), discarded);
  }
  {
    // Two images at once keep separate partials; forget drops one of them.
    IconAssembler a;
    a.accept("a", 4, 0, Bytes{1, 2});
    a.accept("b", 4, 0, Bytes{3, 4});
    a.forget("a");
    EXPECT_EQ(a.accept("a", 4, 2, Bytes{5, 6}), discarded);
    EXPECT_EQ(a.accept("b", 4, 2, Bytes{5, 6}), Outcome(IconAssembler::Complete{{3, 4, 5, 6}}));
  }
}

TEST(IconAssembler, RestartAtOffsetZeroReplacesThePartial) {
  IconAssembler a;
  a.accept("org.x", 8, 0, Bytes{1, 1, 1});
  EXPECT_EQ(a.accept("org.x", 4, 0, Bytes{9, 9}), incomplete);
  EXPECT_EQ(a.accept("org.x", 4, 2, Bytes{8, 8}), Outcome(IconAssembler::Complete{{9, 9, 8, 8}}));
}

TEST(IconAssembler, SizeLimits) {
  IconAssembler a;
  EXPECT_EQ(a.accept("org.x", 2097152, 0, Bytes(1)), incomplete);
  EXPECT_EQ(a.accept("org.x", 2097153, 0, Bytes(1)), discarded);
  EXPECT_EQ(a.accept("org.x", 0, 0, {}), discarded);
  EXPECT_EQ(a.accept("org.x", 1, 0, Bytes{4}), Outcome(IconAssembler::Complete{{4}}));
}

}  // namespace
}  // namespace glidemate
