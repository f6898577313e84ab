#include "tests/support/mpris_players.hpp"

#include <sdbus-c++/sdbus-c++.h>
#include <stdexcept>
#include <vector>

namespace glidemate::testing {
namespace {

constexpr const char* mockInterface = "org.freedesktop.DBus.Mock";
constexpr const char* objectPath = "/org/mpris/MediaPlayer2";
constexpr const char* playerInterface = "org.mpris.MediaPlayer2.Player";

constexpr const char* peerScript = R"PY(
import os, sys
import dbus, dbus.lowlevel, dbus.mainloop.glib
from gi.repository import GLib

address, name, behaviour = sys.argv[1:4]
dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.bus.BusConnection(address)

def swallow(connection, message):
    if isinstance(message, dbus.lowlevel.MethodCallMessage):
        if behaviour == 'vanish':
            os._exit(0)
        return dbus.lowlevel.HANDLER_RESULT_HANDLED
    return dbus.lowlevel.HANDLER_RESULT_NOT_YET_HANDLED

bus.add_message_filter(swallow)
bus.request_name(name)
print('ready', flush=True)
GLib.MainLoop().run()
)PY";

}  // namespace

MprisPlayerMock::MprisPlayerMock(PrivateBus& bus, const std::string& busName, const std::string& identity) {
  bus.startMock({busName, objectPath, "org.mpris.MediaPlayer2"}, busName);
  connection_ = sdbus::createSessionBusConnectionWithAddress(bus.address());
  mock_ = sdbus::createProxy(*connection_, busName, objectPath);
  mock_->callMethod("AddProperties")
      .onInterface(mockInterface)
      .withArguments(std::string("org.mpris.MediaPlayer2"),
                     std::map<std::string, sdbus::Variant>{{"Identity", sdbus::Variant(identity)},
                                                           {"CanQuit", sdbus::Variant(false)}});
  mock_->callMethod("AddProperties")
      .onInterface(mockInterface)
      .withArguments(std::string(playerInterface),
                     std::map<std::string, sdbus::Variant>{{"PlaybackStatus", sdbus::Variant(std::string("Stopped"))},
                                                           {"Metadata", sdbus::Variant(Metadata{})}});
  setMethod("PlayPause",
            "i = 'org.mpris.MediaPlayer2.Player'\n"
            "self.Set(i, 'PlaybackStatus', 'Paused' if self.Get(i, 'PlaybackStatus') == 'Playing' else 'Playing')");
  setMethod("Next", "");
  setMethod("Previous", "");
}

void MprisPlayerMock::set(const std::string& playbackStatus, const Metadata& metadata) {
  setPlayerProperty("PlaybackStatus", sdbus::Variant(playbackStatus));
  setPlayerProperty("Metadata", sdbus::Variant(metadata));
}

void MprisPlayerMock::setPlayerProperty(const std::string& name, const sdbus::Variant& value) {
  // Added once, then updated: dbusmock keeps whatever type it is given.
  try {
    mock_->callMethod("AddProperty").onInterface(mockInterface).withArguments(std::string(playerInterface), name, value);
  } catch (const sdbus::Error&) {
    mock_->callMethod("Set")
        .onInterface("org.freedesktop.DBus.Properties")
        .withArguments(std::string(playerInterface), name, value);
  }
}

void MprisPlayerMock::setMethod(const std::string& name, const std::string& code) {
  mock_->callMethod("AddMethod")
      .onInterface(mockInterface)
      .withArguments(std::string(playerInterface), name, std::string(), std::string(), code);
}

std::size_t MprisPlayerMock::calls(const std::string& name) {
  std::vector<sdbus::Struct<std::uint64_t, std::vector<sdbus::Variant>>> calls;
  mock_->callMethod("GetMethodCalls").onInterface(mockInterface).withArguments(name).storeResultsTo(calls);
  return calls.size();
}

UnansweringPeer::UnansweringPeer(const PrivateBus& bus, const std::string& busName, Behaviour behaviour) {
  process_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{"/usr/bin/python3", "-c", peerScript, bus.address(), busName,
                               behaviour == Behaviour::silent ? "silent" : "vanish"},
      std::vector<std::string>{}, true);
  if (process_->readLine() != "ready") throw std::runtime_error("the unanswering peer did not start");
}

}  // namespace glidemate::testing
