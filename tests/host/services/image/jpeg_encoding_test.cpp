#include "host/services/image/jpeg_encoding.hpp"

#include <gtest/gtest.h>

#include "host/services/image/image_header.hpp"
#include "tests/support/test_images.hpp"

namespace glidemate::host {
namespace {

using testing::decodeImage;
using testing::makeImage;

struct ScalingCase {
  const char* format;
  int width;
  int height;
  int expectedWidth;
  int expectedHeight;
};

TEST(JpegEncoding, ScalesTheLongestSideDownToTheLimitAndNeverUp) {
  for (const auto& c : {ScalingCase{"png", 640, 640, 400, 400}, ScalingCase{"jpeg", 640, 640, 400, 400},
                        ScalingCase{"jpeg", 300, 300, 300, 300}, ScalingCase{"png", 1000, 500, 400, 200},
                        ScalingCase{"jpeg", 300, 1200, 100, 400}, ScalingCase{"png", 3, 2000, 1, 400}}) {
    SCOPED_TRACE(std::string(c.format) + " " + std::to_string(c.width) + "x" + std::to_string(c.height));
    const auto jpeg = encodeJpeg(makeImage(c.format, c.width, c.height), 400);
    ASSERT_TRUE(jpeg);
    const auto decoded = decodeImage(*jpeg);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->format, "jpeg");
    EXPECT_EQ(decoded->width, c.expectedWidth);
    EXPECT_EQ(decoded->height, c.expectedHeight);
  }
}

TEST(JpegEncoding, TransparencyIsLaidOnWhite) {
  const auto jpeg = encodeJpeg(makeImage("png", 20, 20, 0x00000000), 400);
  ASSERT_TRUE(jpeg);
  const auto decoded = decodeImage(*jpeg);
  ASSERT_TRUE(decoded);
  EXPECT_GE(decoded->firstPixelRgb & 0xFF, 0xF0U);
}

Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

TEST(JpegEncoding, AnythingButAWholeReasonablePngOrJpegGivesNothing) {
  Bytes truncated = makeImage("png", 64, 64);
  truncated.resize(40);
  // A valid header claiming 100000 × 100000 pixels, then nothing.
  Bytes huge = makeImage("png", 1, 1);
  huge[16] = 0, huge[17] = 1, huge[18] = 0x86, huge[19] = 0xA0;
  huge[20] = 0, huge[21] = 1, huge[22] = 0x86, huge[23] = 0xA0;
  const std::pair<const char*, Bytes> cases[] = {
      {"empty", {}},
      {"text", bytesOf("<html>not an image</html>")},
      {"gif", bytesOf("GIF89a\x01\x00\x01\x00\x00\x00\x00;")},
      {"png cut after its header", truncated},
      {"too many pixels", huge},
  };
  for (const auto& [name, data] : cases) {
    EXPECT_FALSE(encodeJpeg(data, 400)) << name;
  }
}

TEST(ImageHeader, ReadsFormatAndSizeWithoutDecoding) {
  EXPECT_EQ(ImageHeader::read(makeImage("png", 640, 480)), (ImageHeader{ImageHeader::Format::png, 640, 480}));
  EXPECT_EQ(ImageHeader::read(makeImage("jpeg", 33, 77)), (ImageHeader{ImageHeader::Format::jpeg, 33, 77}));

  // A progressive frame after a comment segment and fill bytes.
  const Bytes progressive{0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x04, 'h', 'i', 0xFF, 0xFF,
                          0xC2, 0x00, 0x11, 0x08, 0x01, 0x2C, 0x02, 0x80, 0x03};
  EXPECT_EQ(ImageHeader::read(progressive), (ImageHeader{ImageHeader::Format::jpeg, 640, 300}));
  // The Huffman table marker sits among the frame markers but is not one.
  const Bytes tableThenCut{0xFF, 0xD8, 0xFF, 0xC4, 0x00, 0x11, 0x08, 0x01, 0x2C, 0x02, 0x80};
  EXPECT_FALSE(ImageHeader::read(tableThenCut));
  const Bytes scanBeforeFrame{0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x08};
  EXPECT_FALSE(ImageHeader::read(scanBeforeFrame));
  const Bytes cutInFrame{0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x11, 0x08, 0x01};
  EXPECT_FALSE(ImageHeader::read(cutInFrame));
}

}  // namespace
}  // namespace glidemate::host
