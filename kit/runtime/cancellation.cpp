#include "kit/runtime/cancellation.hpp"

#include <asio/error.hpp>
#include <asio/system_error.hpp>

namespace glidemate {

bool isCancellation(const std::exception& error) {
  const auto* system = dynamic_cast<const asio::system_error*>(&error);
  return system != nullptr && system->code() == asio::error::operation_aborted;
}

bool isCancellation(const std::exception_ptr& error) {
  if (!error) return false;
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return isCancellation(e);
  } catch (...) {
    return false;
  }
}

}  // namespace glidemate
