#include "kit/session/spent_pairing_codes.hpp"

#include <algorithm>

namespace glidemate {

void SpentPairingCodes::spend(const PairingCode& code) {
  if (contains(code)) {
    return;
  }
  if (codes_.size() >= capacity) {
    codes_.pop_front();
  }
  codes_.push_back(code);
}

bool SpentPairingCodes::contains(const PairingCode& code) const {
  return std::find(codes_.begin(), codes_.end(), code) != codes_.end();
}

std::string SpentPairingCodes::text() const {
  std::string out;
  for (const PairingCode& code : codes_) {
    if (!out.empty()) {
      out += ',';
    }
    out += code.digits();
  }
  return out;
}

SpentPairingCodes SpentPairingCodes::fromText(std::string_view text) {
  SpentPairingCodes spent;
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    if (auto code = PairingCode::fromText(text.substr(0, comma))) {
      spent.spend(*code);
    }
    text.remove_prefix(comma == std::string_view::npos ? text.size() : comma + 1);
  }
  return spent;
}

}  // namespace glidemate
