// The settings file (the host's id and the phone's spent codes live there):
// its text, however damaged, reads as some values or none; what it reads
// as writes back as text that reads the same.
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string_view>

#include "fuzz/fuzz_check.hpp"
#include "host/server/user_defaults.hpp"
#include "kit/session/spent_pairing_codes.hpp"

using namespace glidemate;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto values = host::UserDefaults::parse(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!values) return 0;
  nlohmann::json document = nlohmann::json::object();
  for (const auto& [key, value] : *values) document[key] = nlohmann::json::parse(value);
  fuzz::require(host::UserDefaults::parse(document.dump(2)) == values, "settings write back the same");
  for (const auto& [key, text] : *values) {
    const auto value = nlohmann::json::parse(text);
    if (!value.is_string()) continue;
    const auto spent = SpentPairingCodes::fromText(value.get<std::string>());
    fuzz::require(SpentPairingCodes::fromText(spent.text()) == spent, "spent codes write back the same");
  }
  return 0;
}
