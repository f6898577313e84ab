#pragma once

// host/services: the handlers behind the phone's commands. Services that the
// system carries out by scripting other applications do it through
// AppleScriptRunner, so the script texts are built (and tested) here even
// where a platform runs them differently.

#include <stdexcept>
#include <string>
#include <variant>

#include "host/services/script_value.hpp"

namespace glidemate::host {

// Runs one script and classifies its failure, singling out a missing
// permission to automate the target application.
class AppleScriptRunner {
 public:
  class Failure : public std::runtime_error {
   public:
    // The target refused because this program may not automate it; `app`
    // is the display name the caller passed in.
    struct NotPermitted {
      std::string app;
      bool operator==(const NotPermitted&) const = default;
    };
    struct Failed {
      std::string message;
      bool operator==(const Failed&) const = default;
    };
    using Case = std::variant<NotPermitted, Failed>;

    explicit Failure(Case c);

    static Failure notPermitted(std::string app) { return Failure(NotPermitted{std::move(app)}); }
    static Failure failed(std::string message) { return Failure(Failed{std::move(message)}); }

    const Case& which() const { return case_; }
    friend bool operator==(const Failure& a, const Failure& b) { return a.case_ == b.case_; }

   private:
    Case case_;
  };

  virtual ~AppleScriptRunner() = default;

  // Compiles and runs `source` synchronously; `app` only names the target in
  // a NotPermitted failure. Throws Failure.
  virtual ScriptValue run(const std::string& source, const std::string& app) = 0;
};

}  // namespace glidemate::host
