#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "kit/wire/bytes.hpp"

namespace glidemate::host {

// The result of a script: nothing, a Boolean, a number, text, raw data or a
// list of results. Callers read list items by position, a string, a Boolean
// or raw data, and treat anything else as absent.
struct ScriptValue {
  using List = std::vector<ScriptValue>;
  using Case = std::variant<std::monostate, bool, std::int64_t, double, std::string, Bytes, List>;

  Case value;

  // Item `position` of a list, counted from 1 as scripts count; nothing when
  // this is not a list or the list is shorter.
  const ScriptValue* item(std::size_t position) const;
  std::optional<std::string> stringValue() const;
  std::optional<bool> booleanValue() const;
  const Bytes* data() const { return std::get_if<Bytes>(&value); }

  bool operator==(const ScriptValue&) const = default;
};

}  // namespace glidemate::host
