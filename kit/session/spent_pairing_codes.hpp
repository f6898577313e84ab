#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

#include "kit/session/pairing_code.hpp"

namespace glidemate {

// The codes a phone has used in pairings that failed. The phone reveals
// each round's nonce before it can check the host's, so an attempt that
// fails may have taught the other end bits of the code; a host that is
// really the computer never takes the same code twice anyway (it shows a
// new one for every attempt). So a code serves one attempt: afterwards the
// phone refuses it and its user asks the computer for a new one.
//
// Remembered for every host alike, not per host id: a false host claims
// whatever id it likes. Bounded, the oldest forgotten first; a new code
// that happens to equal a remembered one costs one more request for a code.
class SpentPairingCodes {
 public:
  static constexpr std::size_t capacity = 64;

  void spend(const PairingCode& code);
  bool contains(const PairingCode& code) const;
  bool empty() const { return codes_.empty(); }

  // For storage: six digits per code, separated by commas, oldest first.
  // Reading skips anything that is not a code.
  std::string text() const;
  static SpentPairingCodes fromText(std::string_view text);

  bool operator==(const SpentPairingCodes&) const = default;

 private:
  std::deque<PairingCode> codes_;
};

}  // namespace glidemate
