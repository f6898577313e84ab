#include "host/services/script_value.hpp"

namespace glidemate::host {

const ScriptValue* ScriptValue::item(std::size_t position) const {
  const auto* list = std::get_if<List>(&value);
  if (list == nullptr || position == 0 || position > list->size()) return nullptr;
  return &(*list)[position - 1];
}

std::optional<std::string> ScriptValue::stringValue() const {
  if (const auto* text = std::get_if<std::string>(&value)) return *text;
  return std::nullopt;
}

std::optional<bool> ScriptValue::booleanValue() const {
  if (const auto* flag = std::get_if<bool>(&value)) return *flag;
  return std::nullopt;
}

}  // namespace glidemate::host
