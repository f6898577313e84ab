// The newest picture of a screen-cast stream, as the capture copies
// regions of it with the pointer and the cursor.
#include "host/services/screen_preview/pipewire/stream_picture.hpp"

#include <gtest/gtest.h>

namespace glidemate::host {
namespace {

// A 4 x 3 BGRX frame whose pixel at (x, y) has x in its blue byte and y in
// its green one, in rows padded to `stride`.
std::vector<std::uint8_t> numberedFrame(int stride) {
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(stride) * 3, 0xEE);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 4; ++x) {
      std::uint8_t* p = pixels.data() + y * stride + x * 4;
      p[0] = static_cast<std::uint8_t>(x);
      p[1] = static_cast<std::uint8_t>(y);
      p[2] = 0;
      p[3] = 0;
    }
  }
  return pixels;
}

PipeWireScreenStream::Cursor cursorAt(std::optional<std::pair<int, int>> position,
                                      std::optional<PipeWireScreenStream::CursorPicture> picture = std::nullopt) {
  return PipeWireScreenStream::Cursor{position, 4, 3, std::move(picture)};
}

TEST(StreamPicture, CopiesARegionWithThePointerAndCursorRelativeToIt) {
  StreamPicture picture;
  std::vector<std::uint8_t> held, pixels;
  CursorImage cursor;
  EXPECT_FALSE(picture.copy({0, 0, 1, 1}, held, cursor)) << "nothing before the first frame";

  auto frame = numberedFrame(20);
  picture.takeFrame(frame, {4, 3}, 20);
  picture.takeCursor(cursorAt(std::pair{2, 1}, PipeWireScreenStream::CursorPicture{1, 1, 0, 0, {0xFF102030}}));
  EXPECT_EQ(picture.size(), (PixelSize{4, 3}));

  const auto copied = picture.copy({1, 1, 2, 2}, held, cursor);
  ASSERT_TRUE(copied);
  EXPECT_EQ(copied->size, (PixelSize{2, 2}));
  EXPECT_EQ(copied->stride, 8);
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 2; ++x) {
      const std::uint8_t* p = copied->pixels + y * copied->stride + x * 4;
      EXPECT_EQ(p[0], x + 1);
      EXPECT_EQ(p[1], y + 1);
    }
  }
  EXPECT_EQ(copied->pointer, (PixelPoint{1, 0}));
  ASSERT_NE(copied->cursor, nullptr);
  EXPECT_EQ(copied->cursor->pixels, (std::vector<std::uint32_t>{0xFF102030}));

  for (const PixelRect outside : {PixelRect{3, 0, 2, 1}, PixelRect{0, 2, 1, 2}, PixelRect{0, 0, 0, 1}}) {
    EXPECT_FALSE(picture.copy(outside, held, cursor)) << outside.x << "," << outside.y;
  }
}

TEST(StreamPicture, ACursorChangeIsOneWhenThePointerMovesOrItsPictureChanges) {
  StreamPicture picture;
  const PipeWireScreenStream::CursorPicture arrow{1, 1, 0, 0, {0xFF000000}};
  EXPECT_TRUE(picture.takeCursor(cursorAt(std::pair{1, 1}, arrow)));
  EXPECT_FALSE(picture.takeCursor(cursorAt(std::pair{1, 1}))) << "same place, picture not sent again";
  EXPECT_FALSE(picture.takeCursor(cursorAt(std::pair{1, 1}, arrow)));
  EXPECT_TRUE(picture.takeCursor(cursorAt(std::pair{2, 1})));
  EXPECT_TRUE(picture.takeCursor(cursorAt(std::pair{2, 1}, PipeWireScreenStream::CursorPicture{})))
      << "hidden";
  EXPECT_TRUE(picture.takeCursor(cursorAt(std::nullopt))) << "left the stream";
  EXPECT_EQ(picture.pointer(), std::nullopt);

  auto frame = numberedFrame(16);
  picture.takeFrame(frame, {4, 3}, 16);
  std::vector<std::uint8_t> held;
  CursorImage cursor;
  const auto copied = picture.copy({0, 0, 4, 3}, held, cursor);
  ASSERT_TRUE(copied);
  EXPECT_EQ(copied->cursor, nullptr) << "a hidden cursor is not drawn";
  EXPECT_EQ(copied->pointer, std::nullopt);
}

}  // namespace
}  // namespace glidemate::host
