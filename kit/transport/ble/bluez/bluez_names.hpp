#pragma once

namespace glidemate::bluez {

// The names of BlueZ's D-Bus API that the peripheral manager uses.
inline constexpr const char* service = "org.bluez";
inline constexpr const char* adapterInterface = "org.bluez.Adapter1";
inline constexpr const char* deviceInterface = "org.bluez.Device1";
inline constexpr const char* gattManagerInterface = "org.bluez.GattManager1";
inline constexpr const char* advertisingManagerInterface = "org.bluez.LEAdvertisingManager1";
inline constexpr const char* gattServiceInterface = "org.bluez.GattService1";
inline constexpr const char* gattCharacteristicInterface = "org.bluez.GattCharacteristic1";
inline constexpr const char* advertisementInterface = "org.bluez.LEAdvertisement1";

inline constexpr const char* objectManagerInterface = "org.freedesktop.DBus.ObjectManager";
inline constexpr const char* propertiesInterface = "org.freedesktop.DBus.Properties";
inline constexpr const char* peerInterface = "org.freedesktop.DBus.Peer";

// Error names BlueZ documents for the methods of an exported characteristic.
inline constexpr const char* errorFailed = "org.bluez.Error.Failed";
inline constexpr const char* errorInvalidArguments = "org.bluez.Error.InvalidArguments";
// What the bus itself answers when its policy forbids a call.
inline constexpr const char* errorAccessDenied = "org.freedesktop.DBus.Error.AccessDenied";

}  // namespace glidemate::bluez
