#include "host/services/apple_script_runner.hpp"

namespace glidemate::host {
namespace {

std::string describe(const AppleScriptRunner::Failure::Case& c) {
  if (const auto* refused = std::get_if<AppleScriptRunner::Failure::NotPermitted>(&c)) {
    return "not permitted to control " + refused->app;
  }
  return std::get<AppleScriptRunner::Failure::Failed>(c).message;
}

}  // namespace

AppleScriptRunner::Failure::Failure(Case c) : std::runtime_error(describe(c)), case_(std::move(c)) {}

}  // namespace glidemate::host
