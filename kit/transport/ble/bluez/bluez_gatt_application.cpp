#include "kit/transport/ble/bluez/bluez_gatt_application.hpp"

#include <sdbus-c++/Error.h>
#include <sdbus-c++/Types.h>

#include "kit/transport/ble/bluez/bluez_names.hpp"

namespace glidemate {

BlueZGattApplication::BlueZGattApplication(sdbus::IConnection& connection, std::string root,
                                           const BLEPeripheralManager::Service& service, Handlers handlers)
    : root_(std::move(root)), handlers_(std::move(handlers)) {
  manager_ = sdbus::createObject(connection, root_);
  manager_->addObjectManager();

  const std::string servicePath = root_ + "/service0";
  service_ = sdbus::createObject(connection, servicePath);
  service_->registerProperty(bluez::gattServiceInterface, "UUID", "s",
                             [id = service.identifier](sdbus::PropertyGetReply& reply) { reply << id; });
  service_->registerProperty(bluez::gattServiceInterface, "Primary", "b",
                             [primary = service.primary](sdbus::PropertyGetReply& reply) { reply << primary; });
  service_->finishRegistration();

  for (std::size_t i = 0; i < service.characteristics.size(); ++i) {
    exportCharacteristic(connection, servicePath + "/char" + std::to_string(i), servicePath,
                         service.characteristics[i]);
  }
}

BlueZGattApplication::~BlueZGattApplication() = default;

void BlueZGattApplication::succeed(const sdbus::MethodCall& call) {
  if (!call.doesntExpectReply()) call.createReply().send();
}

std::vector<std::string> BlueZGattApplication::flags(const BLEPeripheralManager::CharacteristicProperties& properties) {
  std::vector<std::string> out;
  if (properties.writeWithoutResponse) out.emplace_back("write-without-response");
  if (properties.write) out.emplace_back("write");
  if (properties.notify) out.emplace_back("notify");
  return out;
}

void BlueZGattApplication::exportCharacteristic(sdbus::IConnection& connection, const std::string& path,
                                                const std::string& servicePath,
                                                const BLEPeripheralManager::Characteristic& characteristic) {
  const std::string id = characteristic.identifier;
  auto object = sdbus::createObject(connection, path);
  const char* interface = bluez::gattCharacteristicInterface;
  object->registerProperty(interface, "UUID", "s", [id](sdbus::PropertyGetReply& reply) { reply << id; });
  object->registerProperty(interface, "Service", "o", [servicePath](sdbus::PropertyGetReply& reply) {
    reply << sdbus::ObjectPath(servicePath);
  });
  object->registerProperty(interface, "Flags", "as",
                           [f = flags(characteristic.properties)](sdbus::PropertyGetReply& reply) { reply << f; });
  const auto& properties = characteristic.properties;
  if (properties.write || properties.writeWithoutResponse) {
    object->registerMethod(interface, "WriteValue", "aya{sv}", "",
                           [this, id](sdbus::MethodCall call) { write(id, std::move(call)); });
  }
  if (properties.notify) {
    // Notifications travel as changes of Value; BlueZ passes each one to
    // the subscribed centrals.
    object->registerProperty(interface, "Value", "ay", [this, id](sdbus::PropertyGetReply& reply) {
      reply << characteristics_.at(id).value;
    });
    object->registerMethod(interface, "StartNotify", "", "", [this, id](sdbus::MethodCall call) {
      succeed(call);
      handlers_.notifyStarted(id);
    });
    object->registerMethod(interface, "StopNotify", "", "", [this, id](sdbus::MethodCall call) {
      succeed(call);
      handlers_.notifyStopped(id);
    });
  }
  object->finishRegistration();
  characteristics_[id] = Characteristic{std::move(object), properties.notify, {}};
}

void BlueZGattApplication::write(const std::string& characteristic, sdbus::MethodCall call) {
  Write write{characteristic, {}, {}, std::nullopt};
  std::map<std::string, sdbus::Variant> options;
  try {
    call >> write.value >> options;
  } catch (const sdbus::Error&) {
    throw sdbus::Error(bluez::errorInvalidArguments, "WriteValue takes a byte array and a dictionary of options");
  }
  bool prepareAuthorize = false;
  for (const auto& [name, value] : options) {
    if (name == "device" && value.containsValueOfType<sdbus::ObjectPath>()) {
      write.device = value.get<sdbus::ObjectPath>();
    } else if (name == "mtu" && value.containsValueOfType<std::uint16_t>()) {
      write.mtu = value.get<std::uint16_t>();
    } else if (name == "prepare-authorize" && value.containsValueOfType<bool>()) {
      prepareAuthorize = value.get<bool>();
    }
  }
  // Whatever BlueZ hands over is the central's next bytes: the parts of a
  // long write come in order too, so their offsets need no reading.
  // Only asks whether a prepared write may go ahead; its bytes come again
  // when it is executed.
  if (prepareAuthorize) {
    succeed(call);
    return;
  }
  handlers_.written(write, std::move(call));
}

bool BlueZGattApplication::notify(const std::string& characteristic, const Bytes& value) {
  auto it = characteristics_.find(characteristic);
  if (it == characteristics_.end() || !it->second.notifies) return false;
  it->second.value = value;
  it->second.object->emitPropertiesChangedSignal(bluez::gattCharacteristicInterface, {"Value"});
  return true;
}

}  // namespace glidemate
