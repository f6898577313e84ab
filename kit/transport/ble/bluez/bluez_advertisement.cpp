#include "kit/transport/ble/bluez/bluez_advertisement.hpp"

#include <vector>

#include "kit/transport/ble/bluez/bluez_names.hpp"

namespace glidemate {

BlueZAdvertisement::BlueZAdvertisement(sdbus::IConnection& connection, std::string path,
                                       const BLEPeripheralManager::Advertisement& advertisement,
                                       std::function<void()> released)
    : path_(std::move(path)), object_(sdbus::createObject(connection, path_)) {
  const char* interface = bluez::advertisementInterface;
  object_->registerProperty(interface, "Type", "s",
                            [](sdbus::PropertyGetReply& reply) { reply << std::string("peripheral"); });
  object_->registerProperty(interface, "ServiceUUIDs", "as",
                            [uuids = advertisement.serviceIdentifiers](sdbus::PropertyGetReply& reply) {
                              reply << uuids;
                            });
  object_->registerProperty(interface, "LocalName", "s",
                            [name = advertisement.localName](sdbus::PropertyGetReply& reply) { reply << name; });
  object_->registerMethod(interface, "Release", "", "", [released = std::move(released)](sdbus::MethodCall call) {
    if (!call.doesntExpectReply()) call.createReply().send();
    released();
  });
  object_->finishRegistration();
}

BlueZAdvertisement::~BlueZAdvertisement() = default;

}  // namespace glidemate
