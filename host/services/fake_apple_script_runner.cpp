#include "host/services/fake_apple_script_runner.hpp"

namespace glidemate::host {

ScriptValue FakeAppleScriptRunner::run(const std::string& source, const std::string& app) {
  runs_.push_back({source, app});
  if (replies_.empty()) return {};
  Reply reply = std::move(replies_.front());
  replies_.pop_front();
  if (auto* failure = std::get_if<Failure>(&reply)) throw *failure;
  return std::get<ScriptValue>(std::move(reply));
}

}  // namespace glidemate::host
