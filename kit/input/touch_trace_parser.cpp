#include "kit/input/touch_trace_parser.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>

#include "kit/input/touch_trace_error.hpp"

namespace glidemate {
namespace {

using nlohmann::json;

constexpr std::array<std::string_view, 4> phaseNames{"began", "moved", "ended", "cancelled"};
constexpr std::array<std::string_view, 5> sampleKeys{"id", "phase", "x", "y", "time"};

bool isBlank(std::string_view line) {
  return line.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

class LineReader {
 public:
  LineReader(const json& object, std::size_t lineNumber) : object_(object), line_(lineNumber) {}

  [[noreturn]] void fail(const std::string& detail) const { throw TouchTraceError(line_, detail); }

  const json& field(std::string_view key) const {
    const auto found = object_.find(key);
    if (found == object_.end()) fail("missing \"" + std::string(key) + "\"");
    return *found;
  }

  double number(std::string_view key) const {
    const json& value = field(key);
    if (!value.is_number()) fail("\"" + std::string(key) + "\" must be a number");
    return value.get<double>();
  }

  std::int64_t integer(std::string_view key) const {
    const json& value = field(key);
    const bool fits = value.is_number_integer() &&
                      (!value.is_number_unsigned() ||
                       value.get<std::uint64_t>() <=
                           static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()));
    if (!fits) fail("\"" + std::string(key) + "\" must be a 64-bit integer");
    return value.get<std::int64_t>();
  }

  TouchPhase phase(std::string_view key) const {
    const json& value = field(key);
    if (value.is_string()) {
      const auto& text = value.get_ref<const std::string&>();
      for (std::size_t i = 0; i < phaseNames.size(); ++i) {
        if (text == phaseNames[i]) return static_cast<TouchPhase>(i);
      }
    }
    fail("\"" + std::string(key) +
         "\" must be one of \"began\", \"moved\", \"ended\", \"cancelled\"");
  }

  // Every key must be one of `allowed`.
  template <std::size_t N>
  void onlyKeys(const std::array<std::string_view, N>& allowed) const {
    for (const auto& [key, value] : object_.items()) {
      if (std::find(allowed.begin(), allowed.end(), key) == allowed.end()) {
        fail("unexpected key \"" + key + "\"");
      }
    }
  }

 private:
  const json& object_;
  std::size_t line_;
};

}  // namespace

std::optional<TouchTraceStep> TouchTraceParser::parseLine(std::string_view line,
                                                          std::size_t lineNumber) {
  if (isBlank(line)) return std::nullopt;
  json object;
  try {
    object = json::parse(line);
  } catch (const json::parse_error& e) {
    throw TouchTraceError(lineNumber, "not valid JSON (at byte " + std::to_string(e.byte) + ")");
  } catch (const json::out_of_range&) {
    // A literal beyond a double's range, such as 1e400.
    throw TouchTraceError(lineNumber, "a number is out of range");
  }
  const LineReader reader(object, lineNumber);
  if (!object.is_object()) reader.fail("not a JSON object");

  if (object.contains("flush")) {
    reader.onlyKeys(std::array<std::string_view, 1>{"flush"});
    return TouchTraceStep::Flush{reader.number("flush")};
  }
  reader.onlyKeys(sampleKeys);
  return TouchTraceStep::Touch{TouchSample{
      reader.integer("id"),
      reader.phase("phase"),
      Point{reader.number("x"), reader.number("y")},
      reader.number("time"),
  }};
}

std::vector<TouchTraceStep> TouchTraceParser::parse(std::string_view text) {
  std::vector<TouchTraceStep> steps;
  std::size_t lineNumber = 0;
  while (!text.empty()) {
    ++lineNumber;
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    if (auto step = parseLine(line, lineNumber)) steps.push_back(std::move(*step));
  }
  return steps;
}

}  // namespace glidemate
