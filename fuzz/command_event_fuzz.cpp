// Command and event JSON (the first byte chooses which): whatever decodes
// prints as JSON that decodes and prints the same again.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.hpp"
#include "kit/wire/command.hpp"
#include "kit/wire/event.hpp"
#include "kit/wire/json_error.hpp"

using namespace glidemate;

namespace {

template <class T>
void roundTrip(std::string_view json) {
  std::string once;
  try {
    once = T::fromJson(json).toJson();
  } catch (const JsonCodingError&) {
    return;
  }
  fuzz::require(T::fromJson(once).toJson() == once, "decoded JSON prints stably");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view json(reinterpret_cast<const char*>(data + 1), size - 1);
  if (data[0] % 2 == 0) {
    roundTrip<Command>(json);
  } else {
    roundTrip<Event>(json);
  }
  return 0;
}
