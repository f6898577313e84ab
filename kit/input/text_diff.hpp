#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace glidemate {

// Turns an edit of a text field into what a keyboard would do: backspaces,
// then typing. Only the common prefix is kept, so an edit in the middle
// deletes and retypes everything after it.
namespace TextDiff {

struct Change {
  struct Backspace {
    std::int64_t count;
    bool operator==(const Backspace&) const = default;
  };
  struct Insert {
    std::string text;
    bool operator==(const Insert&) const = default;
  };
  using Case = std::variant<Backspace, Insert>;

  Case value;

  static Change backspace(std::int64_t count) { return {Backspace{count}}; }
  static Change insert(std::string text) { return {Insert{std::move(text)}}; }

  bool operator==(const Change&) const = default;
};

// Both texts are UTF-8 and counted in user-perceived characters (extended
// grapheme clusters), so one backspace removes one visible character. The
// result has zero, one or two changes, the backspace always first.
std::vector<Change> changes(std::string_view from, std::string_view to);

}  // namespace TextDiff
}  // namespace glidemate
