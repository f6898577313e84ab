#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kit/input/touch_trace_error.hpp"
#include "kit/input/touch_trace_parser.hpp"
#include "tests/support/thrown.hpp"

namespace glidemate {
namespace {

TEST(TouchTraceParser, ReadsSamplesAndFlushesSkippingBlankLines) {
  const std::string text =
      "{\"id\":1,\"phase\":\"began\",\"x\":10,\"y\":20,\"time\":0.0}\n"
      "\n"
      "  {\"flush\": 0.016}\r\n"
      "{\"time\":0.5,\"y\":-1.5,\"x\":3,\"phase\":\"cancelled\",\"id\":-2}";
  const std::vector<TouchTraceStep> expected{
      TouchTraceStep::Touch{{1, TouchPhase::began, {10, 20}, 0.0}},
      TouchTraceStep::Flush{0.016},
      TouchTraceStep::Touch{{-2, TouchPhase::cancelled, {3, -1.5}, 0.5}},
  };
  EXPECT_EQ(TouchTraceParser::parse(text), expected);
  EXPECT_EQ(TouchTraceParser::parse(""), std::vector<TouchTraceStep>{});
}

TEST(TouchTraceParser, NamesTheBadLineAndWhatIsWrong) {
  struct Case {
    std::string line;
    std::string detail;
  };
  const std::string rest = R"("x":10,"y":20,"time":0)";
  const std::vector<Case> cases{
      {R"({"id":1,"phase":"began","x":10)", "not valid JSON"},
      {"[1,2]", "not a JSON object"},
      {R"({"id":1,"phase":"began","x":10,"y":20})", "missing \"time\""},
      {R"({"id":1.5,"phase":"began",)" + rest + "}", "\"id\" must be a 64-bit integer"},
      {R"({"id":18446744073709551615,"phase":"began",)" + rest + "}",
       "\"id\" must be a 64-bit integer"},
      {R"({"id":1,"phase":"lifted",)" + rest + "}", "\"phase\" must be one of"},
      {R"({"id":1,"phase":"began","x":"10","y":20,"time":0})", "\"x\" must be a number"},
      {R"({"id":1,"phase":"began","x":1e400,"y":20,"time":0})", "a number is out of range"},
      {R"({"id":1,"phase":"began",)" + rest + R"(,"pressure":1})", "unexpected key \"pressure\""},
      {R"({"flush":0.1,"id":1})", "unexpected key \"id\""},
      {R"({"flush":"soon"})", "\"flush\" must be a number"},
  };
  for (const auto& c : cases) {
    const std::string text = "{\"flush\":0}\n" + c.line + "\n{\"flush\":1}\n";
    const auto error = testing::thrown<TouchTraceError>([&] { TouchTraceParser::parse(text); });
    ASSERT_TRUE(error.has_value()) << c.line;
    EXPECT_EQ(error->line(), 2u) << c.line;
    EXPECT_THAT(error->detail(), ::testing::HasSubstr(c.detail)) << c.line;
    EXPECT_THAT(error->what(), ::testing::StartsWith("touch trace line 2: ")) << c.line;
  }
}

}  // namespace
}  // namespace glidemate
