#include "phone/chunk_saver.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "tests/support/temp_dir.hpp"

namespace glidemate::phone {
namespace {

TEST(ChunkSaver, WritesEachWholeImageUnderItsBundleIdAndNowhereElse) {
  glidemate::testing::TempDir dir;
  ChunkSaver saver(dir.path() / "images");
  const Bytes image{1, 2, 3, 4, 5};
  EXPECT_FALSE(saver.accept({"$artwork", 5, 0, {1, 2, 3}}));
  const auto path = saver.accept({"$artwork", 5, 3, {4, 5}});
  ASSERT_TRUE(path);
  EXPECT_EQ(*path, dir.path() / "images" / "$artwork");
  std::ifstream file(*path, std::ios::binary);
  EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(file), {}), image);

  for (const auto& [id, name] : std::vector<std::pair<std::string, std::string>>{
           {"../../etc/passwd", ".._.._etc_passwd"}, {"..", "_.."}, {".", "_."}, {"", "_"}, {"/abs", "_abs"}}) {
    EXPECT_EQ(ChunkSaver::fileNameFor(id), name) << id;
  }
}

}  // namespace
}  // namespace glidemate::phone
