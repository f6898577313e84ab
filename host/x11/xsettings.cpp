#include "host/x11/xsettings.hpp"

#include <cstddef>
#include <variant>

namespace glidemate::host {
namespace {

// A bounds-checked reader in the byte order the property declares.
class Reader {
 public:
  Reader(std::span<const std::uint8_t> data, bool bigEndian) : data_(data), bigEndian_(bigEndian) {}

  bool has(std::size_t n) const { return data_.size() - offset_ >= n; }
  std::uint8_t u8() { return data_[offset_++]; }
  std::uint32_t unsignedOf(std::size_t n) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint32_t byte = data_[offset_ + i];
      value |= bigEndian_ ? byte << (8 * (n - 1 - i)) : byte << (8 * i);
    }
    offset_ += n;
    return value;
  }
  std::string_view text(std::size_t n) {
    const std::string_view s(reinterpret_cast<const char*>(data_.data() + offset_), n);
    offset_ += n;
    return s;
  }
  bool skip(std::size_t n) {
    if (!has(n)) return false;
    offset_ += n;
    return true;
  }

 private:
  std::span<const std::uint8_t> data_;
  bool bigEndian_;
  std::size_t offset_ = 0;
};

constexpr std::size_t padded(std::size_t n) { return (n + 3) & ~std::size_t{3}; }

enum : std::uint8_t { typeInteger = 0, typeString = 1, typeColor = 2 };

// The setting called `name`, as an integer or a string; nothing when it is
// absent, a colour, or the data end early.
std::optional<std::variant<std::int32_t, std::string>> xsettingsValue(std::span<const std::uint8_t> property,
                                                                      std::string_view name) {
  if (property.size() < 12) return std::nullopt;
  Reader r(property, property[0] != 0);
  r.skip(4);                    // byte order and padding
  r.skip(4);                    // serial
  const std::uint32_t count = r.unsignedOf(4);
  for (std::uint32_t i = 0; i < count; ++i) {
    if (!r.has(4)) return std::nullopt;
    const std::uint8_t type = r.u8();
    r.skip(1);
    const std::size_t nameLength = r.unsignedOf(2);
    if (!r.has(padded(nameLength))) return std::nullopt;
    const std::string_view settingName = r.text(nameLength);
    r.skip(padded(nameLength) - nameLength);
    if (!r.skip(4)) return std::nullopt;  // last-change serial
    switch (type) {
      case typeInteger: {
        if (!r.has(4)) return std::nullopt;
        const auto value = static_cast<std::int32_t>(r.unsignedOf(4));
        if (settingName == name) return value;
        break;
      }
      case typeString: {
        if (!r.has(4)) return std::nullopt;
        const std::size_t length = r.unsignedOf(4);
        if (!r.has(padded(length))) return std::nullopt;
        const std::string_view value = r.text(length);
        r.skip(padded(length) - length);
        if (settingName == name) return std::string(value);
        break;
      }
      case typeColor:
        if (!r.skip(8)) return std::nullopt;
        if (settingName == name) return std::nullopt;
        break;
      default:
        return std::nullopt;
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::int32_t> xsettingsInteger(std::span<const std::uint8_t> property, std::string_view name) {
  const auto value = xsettingsValue(property, name);
  if (!value || !std::holds_alternative<std::int32_t>(*value)) return std::nullopt;
  return std::get<std::int32_t>(*value);
}

std::optional<std::string> xsettingsString(std::span<const std::uint8_t> property, std::string_view name) {
  auto value = xsettingsValue(property, name);
  if (!value || !std::holds_alternative<std::string>(*value)) return std::nullopt;
  return std::get<std::string>(std::move(*value));
}

}  // namespace glidemate::host
