#include "kit/wire/utf8.hpp"

#include <gtest/gtest.h>

namespace glidemate {
namespace {

constexpr const char* replacement = "\xEF\xBF\xBD";

TEST(Utf8, IllFormedBytesBecomeReplacementCharacters) {
  const std::string r = replacement;
  struct Case {
    std::string in;
    std::string out;
  };
  const std::vector<Case> cases{
      {"plain \xC3\xA9\xE2\x82\xAC\xF0\x9F\x91\x8B", "plain \xC3\xA9\xE2\x82\xAC\xF0\x9F\x91\x8B"},
      {"\xC0\xAF", r + r},                  // overlong slash
      {"\xED\xA0\x80", r + r + r},          // a surrogate
      {"\xF4\x90\x80\x80", r + r + r + r},  // above U+10FFFF
      {"ab\xE2\x82", "ab" + r + r},         // cut at the end
      {"\xE9t\xE9", r + "t" + r},           // Latin-1
  };
  for (const auto& c : cases) {
    const std::string fixed = validUtf8(c.in);
    EXPECT_EQ(fixed, c.out) << c.in;
    EXPECT_TRUE(isValidUtf8({reinterpret_cast<const std::uint8_t*>(fixed.data()), fixed.size()}));
  }
}

TEST(Utf8, PrefixesNeverCutACharacter) {
  const std::string text = "a\xC3\xA9\xF0\x9F\x91\x8B";  // 1 + 2 + 4 bytes
  EXPECT_EQ(utf8Prefix(text, 100), text);
  EXPECT_EQ(utf8Prefix(text, 7), text);
  EXPECT_EQ(utf8Prefix(text, 6), "a\xC3\xA9");
  EXPECT_EQ(utf8Prefix(text, 3), "a\xC3\xA9");
  EXPECT_EQ(utf8Prefix(text, 2), "a");
  EXPECT_EQ(utf8Prefix(text, 0), "");
}

}  // namespace
}  // namespace glidemate
