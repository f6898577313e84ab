#include "host/services/bluetooth/bluetooth_service.hpp"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cctype>

namespace glidemate::host {

BluetoothService::BluetoothService(std::shared_ptr<BluetoothSystem> system) : system_(std::move(system)) {}

std::string BluetoothService::normalisedAddress(std::string_view address) {
  std::string out;
  for (const char c : address) {
    const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (std::isxdigit(static_cast<unsigned char>(upper)) != 0) out.push_back(upper);
  }
  return out;
}

void BluetoothService::sortForDisplay(std::vector<BluetoothDeviceInfo>& devices) {
  // Without a language set (LANG=C) ICU's default is en_US_POSIX, whose
  // order puts every capital before every small letter; the root order
  // is the neutral one.
  icu::Locale locale = icu::Locale::getDefault();
  if (std::string_view(locale.getVariant()) == "POSIX") locale = icu::Locale::getRoot();
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(locale, status));
  if (U_SUCCESS(status)) {
    // Secondary strength tells accents apart but not case.
    collator->setStrength(icu::Collator::SECONDARY);
  } else {
    collator.reset();
  }
  auto byName = [&](const std::string& a, const std::string& b) {
    if (!collator) return a < b;
    UErrorCode compareStatus = U_ZERO_ERROR;
    return collator->compareUTF8(a, b, compareStatus) == UCOL_LESS;
  };
  std::stable_sort(devices.begin(), devices.end(), [&](const BluetoothDeviceInfo& a, const BluetoothDeviceInfo& b) {
    if (a.isConnected != b.isConnected) return a.isConnected;
    return byName(a.name, b.name);
  });
}

asio::awaitable<std::vector<BluetoothDeviceInfo>> BluetoothService::devices() {
  auto system = system_;
  std::vector<BluetoothDeviceInfo> out;
  if (!system) co_return out;
  for (auto& device : co_await system->pairedDevices()) {
    if (device.address.empty()) continue;
    std::string name = device.name && !device.name->empty() ? *device.name : device.address;
    out.push_back(BluetoothDeviceInfo{device.address, std::move(name), device.isConnected, device.batteryPercent});
  }
  sortForDisplay(out);
  co_return out;
}

asio::awaitable<std::optional<BluetoothSystem::Device>> BluetoothService::find(std::shared_ptr<BluetoothSystem> system,
                                                                               std::string address) {
  const std::string wanted = normalisedAddress(address);
  // An address with no digits at all names no device, even one whose own
  // address is as badly written.
  if (!system || wanted.empty()) co_return std::nullopt;
  for (auto& device : co_await system->pairedDevices()) {
    if (normalisedAddress(device.address) == wanted) co_return std::move(device);
  }
  co_return std::nullopt;
}

asio::awaitable<bool> BluetoothService::connect(std::string address) {
  auto system = system_;
  const auto device = co_await find(system, std::move(address));
  if (!device) co_return false;
  co_return co_await system->connect(*device);
}

asio::awaitable<bool> BluetoothService::disconnect(std::string address) {
  auto system = system_;
  const auto device = co_await find(system, std::move(address));
  if (!device) co_return false;
  co_return co_await system->disconnect(*device);
}

}  // namespace glidemate::host
