#pragma once

#include <exception>

namespace glidemate {

// Whether an error is the cancellation of the coroutine that caught it
// (asio's operation_aborted) rather than a failure to report: code that
// turns failures into answers lets cancellation go on up.
bool isCancellation(const std::exception_ptr& error);
bool isCancellation(const std::exception& error);

}  // namespace glidemate
