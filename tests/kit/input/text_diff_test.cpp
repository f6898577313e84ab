#include "kit/input/text_diff.hpp"

#include <gtest/gtest.h>

namespace glidemate {
namespace {

using TextDiff::Change;

TEST(TextDiff, KeepsTheCommonPrefixOnly) {
  struct Case {
    std::string from, to;
    std::vector<Change> expected;
  };
  const std::vector<Case> cases{
      {"hello", "help", {Change::backspace(2), Change::insert("p")}},
      {"abc", "abcd", {Change::insert("d")}},
      {"abc", "ab", {Change::backspace(1)}},
      {"same", "same", {}},
      {"", "new", {Change::insert("new")}},
      {"gone", "", {Change::backspace(4)}},
      // A change in the middle retypes everything after it.
      {"abcdef", "abXdef", {Change::backspace(4), Change::insert("Xdef")}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TextDiff::changes(c.from, c.to), c.expected) << c.from << " -> " << c.to;
  }
}

// One backspace removes one visible character, however many code points or
// bytes it is made of.
TEST(TextDiff, CountsUserPerceivedCharacters) {
  const std::string family = "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";  // 👨‍👩‍👧
  const std::string flag = "\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7";  // 🇫🇷
  const std::string eCombining = "e\xCC\x81";                    // e + combining acute
  EXPECT_EQ(TextDiff::changes("hi" + family, "hi"), std::vector{Change::backspace(1)});
  EXPECT_EQ(TextDiff::changes(flag + "x", flag), std::vector{Change::backspace(1)});
  // The base letter alone is a different character from the accented one.
  EXPECT_EQ(TextDiff::changes(eCombining, "e"), (std::vector{Change::backspace(1), Change::insert("e")}));
  EXPECT_EQ(TextDiff::changes("caf", "caf" + eCombining), std::vector{Change::insert(eCombining)});
}

}  // namespace
}  // namespace glidemate
