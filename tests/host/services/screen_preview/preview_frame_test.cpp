// The shared part of the preview: where the crop falls, which display is
// followed, when frames are captured, how the cursor is drawn and what the
// encoded frames show.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "host/services/screen_preview/capture_schedule.hpp"
#include "host/services/screen_preview/cursor_overlay.hpp"
#include "host/services/screen_preview/preview_frame_encoder.hpp"
#include "host/services/screen_preview/preview_layout.hpp"
#include "tests/host/services/screen_preview/jpeg_image.hpp"

namespace glidemate::host {
namespace {

using testing::JpegImage;
using testing::rgbOf;

struct CropCase {
  const char* name;
  PixelSize image;
  std::optional<PixelPoint> pointer;
  PixelRect expected;
};

TEST(PreviewLayoutTest, TheCursorWindowIsCentredOnThePointerAndKeptInsideTheImage) {
  const std::vector<CropCase> cases = {
      {"top-left corner", {1440, 900}, PixelPoint{0, 0}, {0, 0, 960, 600}},
      {"bottom-right corner", {1440, 900}, PixelPoint{1439, 899}, {480, 300, 960, 600}},
      {"middle", {1440, 900}, PixelPoint{720, 450}, {240, 150, 960, 600}},
      {"pointer unknown: the centre", {1440, 900}, std::nullopt, {240, 150, 960, 600}},
      {"narrower than the window", {800, 600}, PixelPoint{700, 300}, {0, 0, 800, 600}},
      {"shorter than the window", {1280, 480}, PixelPoint{1000, 400}, {320, 0, 960, 480}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PreviewLayout::cursorCrop(c.image, c.pointer), c.expected) << c.name;
  }
}

TEST(PreviewLayoutTest, TheCaptureFollowsTheDisplayUnderThePointerOrElseTheFirst) {
  const std::vector<PixelRect> two = {{0, 0, 1440, 900}, {1440, 0, 1280, 1024}};
  EXPECT_EQ(PreviewLayout::displayUnderPointer(two, PixelPoint{1500, 1000}), two[1]);
  EXPECT_EQ(PreviewLayout::displayUnderPointer(two, PixelPoint{100, 950}), two[0]);  // in no display
  EXPECT_EQ(PreviewLayout::displayUnderPointer(two, std::nullopt), two[0]);
  EXPECT_EQ(PreviewLayout::displayUnderPointer({}, PixelPoint{0, 0}), std::nullopt);
}

TEST(PreviewLayoutTest, ScreenFramesAreScaledTo1280WideKeepingTheirShape) {
  EXPECT_EQ(PreviewLayout::scaledScreenSize({1440, 900}), (PixelSize{1280, 800}));
  EXPECT_EQ(PreviewLayout::scaledScreenSize({2880, 1800}), (PixelSize{1280, 800}));
  EXPECT_EQ(PreviewLayout::scaledScreenSize({1024, 768}), (PixelSize{1280, 960}));
  EXPECT_EQ(PreviewLayout::scaledScreenSize({1366, 768}), (PixelSize{1280, 720}));
  EXPECT_EQ(PreviewLayout::scaledScreenSize({5000, 1}), (PixelSize{1280, 1}));
}

TEST(CaptureScheduleTest, CapturesOnlyAfterAChangeAndAtMost24TimesASecond) {
  using namespace std::chrono_literals;
  const auto t0 = CaptureSchedule::Clock::time_point{} + 100s;
  CaptureSchedule schedule;
  EXPECT_FALSE(schedule.isDue(t0));
  EXPECT_EQ(schedule.waitUntil(), CaptureSchedule::Clock::time_point::max());

  schedule.changed();
  EXPECT_TRUE(schedule.isDue(t0));
  schedule.captured(t0);
  EXPECT_FALSE(schedule.isDue(t0 + 1s));  // nothing changed since

  schedule.changed();
  EXPECT_FALSE(schedule.isDue(t0 + 10ms));
  EXPECT_EQ(schedule.waitUntil(), t0 + CaptureSchedule::minimumInterval);
  EXPECT_TRUE(schedule.isDue(t0 + CaptureSchedule::minimumInterval));
  EXPECT_GE(CaptureSchedule::minimumInterval * 24, std::chrono::seconds(1));
}

// A BGRX picture filled with one colour (0xRRGGBB), painted on by the tests.
struct Picture {
  Picture(PixelSize s, std::uint32_t colour) : size(s), pixels(static_cast<std::size_t>(s.width) * s.height * 4) {
    fill({0, 0, s.width, s.height}, colour);
  }
  void fill(PixelRect r, std::uint32_t colour) {
    for (int y = r.y; y < r.y + r.height; ++y) {
      for (int x = r.x; x < r.x + r.width; ++x) {
        std::uint8_t* p = pixel(x, y);
        p[0] = colour & 0xff;
        p[1] = (colour >> 8) & 0xff;
        p[2] = (colour >> 16) & 0xff;
      }
    }
  }
  std::uint8_t* pixel(int x, int y) { return pixels.data() + (static_cast<std::size_t>(y) * size.width + x) * 4; }
  std::uint32_t rgb(int x, int y) {
    const std::uint8_t* p = pixel(x, y);
    return (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) | p[0];
  }
  CapturedFrame frame(std::optional<PixelPoint> pointer = std::nullopt, const CursorImage* cursor = nullptr) {
    return CapturedFrame{pixels.data(), size, size.width * 4, pointer, cursor};
  }
  PixelSize size;
  std::vector<std::uint8_t> pixels;
};

TEST(CursorOverlayTest, TheCursorIsBlendedByItsAlphaWithTheHotSpotOnThePointer) {
  Picture picture({8, 8}, 0xff0000);
  // Premultiplied ARGB: opaque white, half-transparent black, transparent.
  const CursorImage cursor{{3, 1}, {1, 0}, {0xffffffff, 0x80000000, 0x00000000}};
  drawCursor(picture.frame(PixelPoint{4, 4}, &cursor));
  EXPECT_EQ(picture.rgb(3, 4), 0xffffffU);
  EXPECT_EQ(picture.rgb(4, 4), 0x7f0000U);  // half of the red shows through
  EXPECT_EQ(picture.rgb(5, 4), 0xff0000U);
  EXPECT_EQ(picture.rgb(2, 4), 0xff0000U);
}

TEST(CursorOverlayTest, ACursorHangingOverAnyEdgeIsCutToTheFrame) {
  const CursorImage cursor{{4, 4}, {0, 0}, std::vector<std::uint32_t>(16, 0xff00ff00)};
  for (const PixelPoint at : {PixelPoint{-2, -2}, PixelPoint{6, 6}, PixelPoint{-10, 3}, PixelPoint{7, -3}}) {
    Picture picture({8, 8}, 0x000000);
    drawCursor(picture.frame(at, &cursor));
    int green = 0;
    for (int y = 0; y < 8; ++y) {
      for (int x = 0; x < 8; ++x) green += picture.rgb(x, y) == 0x00ff00U ? 1 : 0;
    }
    const int visible = std::max(0, std::min(at.x + 4, 8) - std::max(at.x, 0)) *
                        std::max(0, std::min(at.y + 4, 8) - std::max(at.y, 0));
    EXPECT_EQ(green, visible) << at.x << "," << at.y;
  }
}

TEST(PreviewFrameEncoderTest, ScreenFramesAreScaledWholeAndCursorFramesCroppedAroundThePointer) {
  PreviewFrameEncoder encoder;
  Picture picture({1440, 900}, 0xcc2020);
  picture.fill({720, 0, 720, 900}, 0x2020cc);
  picture.fill({680, 430, 40, 40}, 0x20cc20);  // a marker where the pointer is

  const JpegImage screen(encoder.encode(picture.frame(PixelPoint{700, 450}), ScreenPreviewMode::screen));
  EXPECT_EQ(screen.width(), 1280);
  EXPECT_EQ(screen.height(), 800);
  EXPECT_TRUE(screen.near(300, 400, rgbOf(0xcc2020)));
  EXPECT_TRUE(screen.near(1000, 200, rgbOf(0x2020cc)));

  const JpegImage cursor(encoder.encode(picture.frame(PixelPoint{700, 450}), ScreenPreviewMode::cursor));
  EXPECT_EQ(cursor.width(), 960);
  EXPECT_EQ(cursor.height(), 600);
  EXPECT_TRUE(cursor.near(480, 300, rgbOf(0x20cc20)));  // the pointer is in the middle
  EXPECT_TRUE(cursor.near(100, 300, rgbOf(0xcc2020)));  // x 320 of the display
  EXPECT_TRUE(cursor.near(900, 300, rgbOf(0x2020cc)));  // x 1120
}

}  // namespace
}  // namespace glidemate::host
