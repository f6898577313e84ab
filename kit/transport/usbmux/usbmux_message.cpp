#include "kit/transport/usbmux/usbmux_message.hpp"

#include <plist/plist.h>

#include <limits>
#include <memory>
#include <string>

#include "kit/transport/usbmux/usbmux_error.hpp"

namespace glidemate {
namespace {

struct PlistFree {
  void operator()(plist_t node) const { plist_free(node); }
};
using Plist = std::unique_ptr<void, PlistFree>;

struct XmlFree {
  void operator()(char* xml) const { plist_to_xml_free(xml); }
};

Plist request(const char* messageType) {
  Plist dict(plist_new_dict());
  plist_dict_set_item(dict.get(), "MessageType", plist_new_string(messageType));
  plist_dict_set_item(dict.get(), "ClientVersionString", plist_new_string("Glidemate-1.0"));
  plist_dict_set_item(dict.get(), "ProgName", plist_new_string("Glidemate"));
  return dict;
}

USBMuxPacket packet(const Plist& dict, std::uint32_t tag) {
  char* xml = nullptr;
  std::uint32_t length = 0;
  plist_to_xml(dict.get(), &xml, &length);
  std::unique_ptr<char, XmlFree> owned(xml);
  if (owned == nullptr) {
    throw USBMuxError::malformedPacket();
  }
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(owned.get());
  return USBMuxPacket{tag, Bytes(bytes, bytes + length)};
}

std::optional<std::string> stringValue(plist_t node) {
  if (node == nullptr || plist_get_node_type(node) != PLIST_STRING) {
    return std::nullopt;
  }
  std::uint64_t length = 0;
  const char* text = plist_get_string_ptr(node, &length);
  return std::string(text, static_cast<std::size_t>(length));
}

// Integers come back as their 64-bit pattern; a negative one reads as a
// huge unsigned value and fails any range check on unsigned fields.
std::optional<std::uint64_t> integerValue(plist_t node) {
  if (node == nullptr || plist_get_node_type(node) != PLIST_UINT) {
    return std::nullopt;
  }
  std::uint64_t value = 0;
  plist_get_uint_val(node, &value);
  return value;
}

std::optional<std::uint32_t> deviceId(plist_t dict) {
  auto value = integerValue(plist_dict_get_item(dict, "DeviceID"));
  if (!value || *value > std::numeric_limits<std::uint32_t>::max()) {
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(*value);
}

std::optional<USBMuxResponse> attached(plist_t dict) {
  auto id = deviceId(dict);
  plist_t properties = plist_dict_get_item(dict, "Properties");
  if (!id || properties == nullptr || plist_get_node_type(properties) != PLIST_DICT) {
    return std::nullopt;
  }
  return USBMuxResponse::Attached{USBMuxDevice{
      *id,
      stringValue(plist_dict_get_item(properties, "SerialNumber")).value_or(""),
      stringValue(plist_dict_get_item(properties, "ConnectionType")).value_or(""),
  }};
}

}  // namespace

USBMuxPacket USBMuxMessage::listen(std::uint32_t tag) { return packet(request("Listen"), tag); }

USBMuxPacket USBMuxMessage::connect(std::uint32_t deviceId, std::uint16_t port, std::uint32_t tag) {
  auto dict = request("Connect");
  const auto swapped = static_cast<std::uint16_t>(((port & 0xFFu) << 8) | (port >> 8));
  plist_dict_set_item(dict.get(), "DeviceID", plist_new_uint(deviceId));
  plist_dict_set_item(dict.get(), "PortNumber", plist_new_uint(swapped));
  return packet(dict, tag);
}

std::optional<USBMuxResponse> USBMuxMessage::parse(ByteView payload) {
  if (payload.empty() || payload.size() > USBMuxPacket::maximumPayload) {
    return std::nullopt;
  }
  plist_t parsed = nullptr;
  plist_from_xml(reinterpret_cast<const char*>(payload.data()), static_cast<std::uint32_t>(payload.size()),
                 &parsed);
  Plist root(parsed);
  if (root == nullptr || plist_get_node_type(root.get()) != PLIST_DICT) {
    return std::nullopt;
  }
  auto type = stringValue(plist_dict_get_item(root.get(), "MessageType"));
  if (!type) {
    return std::nullopt;
  }
  if (*type == "Result") {
    auto number = integerValue(plist_dict_get_item(root.get(), "Number"));
    if (!number) {
      return std::nullopt;
    }
    return USBMuxResponse::Result{static_cast<std::int64_t>(*number)};
  }
  if (*type == "Attached") {
    return attached(root.get());
  }
  if (*type == "Detached") {
    auto id = deviceId(root.get());
    if (!id) {
      return std::nullopt;
    }
    return USBMuxResponse::Detached{*id};
  }
  return USBMuxResponse::Other{*type};
}

}  // namespace glidemate
