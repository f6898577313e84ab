// The settings file (the host's id and the phone's spent codes live there):
// its text, however damaged, reads as some strings or none; what it reads
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
  fuzz::require(host::UserDefaults::parse(nlohmann::json(values).dump(2)) == values, "settings write back the same");
  for (const auto& [key, value] : values) {
    const auto spent = SpentPairingCodes::fromText(value);
    fuzz::require(SpentPairingCodes::fromText(spent.text()) == spent, "spent codes write back the same");
  }
  return 0;
}
