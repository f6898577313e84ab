#pragma once

#include <cstdint>
#include <stdexcept>
#include <variant>

namespace glidemate {

// Every way bytes on the wire can be wrong. Thrown by the byte reader, the
// record framer and the message codec.
class CodecError : public std::runtime_error {
 public:
  struct RecordTooLarge {
    std::int64_t length;
    bool operator==(const RecordTooLarge&) const = default;
  };
  struct UnknownRecordKind {
    std::uint8_t byte;
    bool operator==(const UnknownRecordKind&) const = default;
  };
  struct UnknownMessageType {
    std::uint8_t byte;
    bool operator==(const UnknownMessageType&) const = default;
  };
  struct TrailingBytes {
    std::int64_t count;
    bool operator==(const TrailingBytes&) const = default;
  };
  struct Truncated {
    bool operator==(const Truncated&) const = default;
  };
  struct MalformedRecord {
    bool operator==(const MalformedRecord&) const = default;
  };
  using Case = std::variant<RecordTooLarge, UnknownRecordKind, UnknownMessageType, TrailingBytes,
                            Truncated, MalformedRecord>;

  explicit CodecError(Case c);

  static CodecError recordTooLarge(std::int64_t length) { return CodecError(RecordTooLarge{length}); }
  static CodecError unknownRecordKind(std::uint8_t b) { return CodecError(UnknownRecordKind{b}); }
  static CodecError unknownMessageType(std::uint8_t b) { return CodecError(UnknownMessageType{b}); }
  static CodecError trailingBytes(std::int64_t count) { return CodecError(TrailingBytes{count}); }
  static CodecError truncated() { return CodecError(Truncated{}); }
  static CodecError malformedRecord() { return CodecError(MalformedRecord{}); }

  const Case& which() const { return case_; }
  friend bool operator==(const CodecError& a, const CodecError& b) { return a.case_ == b.case_; }

 private:
  Case case_;
};

}  // namespace glidemate
