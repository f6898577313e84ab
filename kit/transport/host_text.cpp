#include "kit/transport/host_text.hpp"

namespace glidemate {

std::string hostText(const asio::ip::address& address) {
  if (address.is_v6() && address.to_v6().is_v4_mapped()) {
    return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6()).to_string();
  }
  std::string text = address.to_string();
  return text.substr(0, text.find('%'));
}

}  // namespace glidemate
