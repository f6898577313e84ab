// A recorded touch trace (JSON lines), and what the trackpad logic makes of
// the steps it holds, down to the messages a phone would send.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "kit/input/touch_classifier.hpp"
#include "kit/input/touch_trace_error.hpp"
#include "kit/input/touch_trace_parser.hpp"
#include "kit/input/trackpad_messages.hpp"
#include "kit/wire/message_codec.hpp"

using namespace glidemate;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<TouchTraceStep> steps;
  try {
    steps = TouchTraceParser::parse(std::string_view(reinterpret_cast<const char*>(data), size));
  } catch (const TouchTraceError&) {
    return 0;
  }
  TouchClassifier classifier;
  for (const auto& step : steps) {
    if (const auto* touch = std::get_if<TouchTraceStep::Touch>(&step.value)) {
      classifier.apply(touch->sample);
      continue;
    }
    for (const auto& action : classifier.flush(std::get<TouchTraceStep::Flush>(step.value).now)) {
      for (const auto& message : trackpadMessages(action)) (void)MessageCodec::encode(message);
    }
  }
  return 0;
}
