#pragma once

#include <cstdint>
#include <stdexcept>
#include <variant>

namespace glidemate {

// Why talking to the cable multiplexer daemon failed.
class USBMuxError : public std::runtime_error {
 public:
  // A header announced more payload than a packet may carry.
  struct PayloadTooLarge {
    std::int64_t length;
    bool operator==(const PayloadTooLarge&) const = default;
  };
  struct UnsupportedVersion {
    std::uint32_t version;
    bool operator==(const UnsupportedVersion&) const = default;
  };
  // The daemon answered a Connect with this non-zero result number.
  struct Refused {
    std::int64_t code;
    bool operator==(const Refused&) const = default;
  };
  struct MalformedPacket {
    bool operator==(const MalformedPacket&) const = default;
  };
  // The daemon's socket could not be reached or written.
  struct DaemonUnavailable {
    bool operator==(const DaemonUnavailable&) const = default;
  };
  // The daemon gave no usable answer to a Connect (none in time, or not a
  // result).
  struct ConnectFailed {
    bool operator==(const ConnectFailed&) const = default;
  };
  using Case = std::variant<PayloadTooLarge, UnsupportedVersion, Refused, MalformedPacket, DaemonUnavailable,
                            ConnectFailed>;

  explicit USBMuxError(Case c);

  static USBMuxError payloadTooLarge(std::int64_t length) { return USBMuxError(PayloadTooLarge{length}); }
  static USBMuxError unsupportedVersion(std::uint32_t version) { return USBMuxError(UnsupportedVersion{version}); }
  static USBMuxError refused(std::int64_t code) { return USBMuxError(Refused{code}); }
  static USBMuxError malformedPacket() { return USBMuxError(MalformedPacket{}); }
  static USBMuxError daemonUnavailable() { return USBMuxError(DaemonUnavailable{}); }
  static USBMuxError connectFailed() { return USBMuxError(ConnectFailed{}); }

  const Case& which() const { return case_; }
  friend bool operator==(const USBMuxError& a, const USBMuxError& b) { return a.case_ == b.case_; }

 private:
  Case case_;
};

}  // namespace glidemate
