// The one translation unit that compiles Asio's implementation
// (ASIO_SEPARATE_COMPILATION keeps it out of every other one).
#include <asio/impl/src.hpp>
