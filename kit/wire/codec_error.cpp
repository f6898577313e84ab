#include "kit/wire/codec_error.hpp"

#include <string>

#include "kit/wire/overload.hpp"

namespace glidemate {
namespace {

std::string describe(const CodecError::Case& c) {
  return std::visit(
      Overload{
          [](const CodecError::RecordTooLarge& e) {
            return "record too large: body of " + std::to_string(e.length) + " bytes";
          },
          [](const CodecError::UnknownRecordKind& e) {
            return "unknown record kind " + std::to_string(e.byte);
          },
          [](const CodecError::UnknownMessageType& e) {
            return "unknown message type " + std::to_string(e.byte);
          },
          [](const CodecError::TrailingBytes& e) {
            return std::to_string(e.count) + " trailing bytes after the message";
          },
          [](const CodecError::Truncated&) { return std::string("truncated input"); },
          [](const CodecError::MalformedRecord&) { return std::string("malformed record"); },
      },
      c);
}

}  // namespace

CodecError::CodecError(Case c) : std::runtime_error(describe(c)), case_(c) {}

}  // namespace glidemate
