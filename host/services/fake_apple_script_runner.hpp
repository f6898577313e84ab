#pragma once

#include <deque>
#include <variant>
#include <vector>

#include "host/services/apple_script_runner.hpp"

namespace glidemate::host {

// A runner for tests: records every script it is given and answers with the
// replies queued for it, in order; once the queue is empty it answers an
// empty value.
class FakeAppleScriptRunner final : public AppleScriptRunner {
 public:
  struct Run {
    std::string source;
    std::string app;
    bool operator==(const Run&) const = default;
  };
  using Reply = std::variant<ScriptValue, Failure>;

  void enqueue(Reply reply) { replies_.push_back(std::move(reply)); }
  const std::vector<Run>& runs() const { return runs_; }

  ScriptValue run(const std::string& source, const std::string& app) override;

 private:
  std::vector<Run> runs_;
  std::deque<Reply> replies_;
};

}  // namespace glidemate::host
