#include "kit/transport/transport_error.hpp"

#include "kit/wire/overload.hpp"

namespace glidemate {
namespace {

std::string describe(const TransportError::Case& c) {
  return std::visit(Overload{
                        [](const TransportError::Underlying& e) { return e.description; },
                        [](const TransportError::NotReady&) { return std::string("the transport is not ready"); },
                        [](const TransportError::Closed&) { return std::string("the transport is closed"); },
                    },
                    c);
}

}  // namespace

TransportError::TransportError(Case c) : std::runtime_error(describe(c)), case_(std::move(c)) {}

}  // namespace glidemate
