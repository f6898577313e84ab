#pragma once

#include <string>
#include <variant>
#include <stdexcept>

namespace glidemate {

// Why a transport could not do what was asked. Network errors travel only
// as their description text.
class TransportError : public std::runtime_error {
 public:
  struct Underlying {
    std::string description;
    bool operator==(const Underlying&) const = default;
  };
  struct NotReady {
    bool operator==(const NotReady&) const = default;
  };
  struct Closed {
    bool operator==(const Closed&) const = default;
  };
  using Case = std::variant<Underlying, NotReady, Closed>;

  explicit TransportError(Case c);

  static TransportError underlying(std::string description) {
    return TransportError(Underlying{std::move(description)});
  }
  static TransportError notReady() { return TransportError(NotReady{}); }
  static TransportError closed() { return TransportError(Closed{}); }

  const Case& which() const { return case_; }
  friend bool operator==(const TransportError& a, const TransportError& b) { return a.case_ == b.case_; }

 private:
  Case case_;
};

}  // namespace glidemate
