// Test helper: MPRIS media players on a private session bus. A mock player
// is a python-dbusmock object whose playback status and metadata a test
// sets and whose method calls it counts; an unanswering peer owns a bus
// name and never replies, or leaves the bus as soon as it is called.
#pragma once

#include <map>
#include <memory>
#include <sdbus-c++/IConnection.h>
#include <sdbus-c++/IProxy.h>
#include <sdbus-c++/Types.h>
#include <string>

#include "tests/support/child_process.hpp"
#include "tests/support/private_bus.hpp"

namespace glidemate::testing {

class MprisPlayerMock {
 public:
  using Metadata = std::map<std::string, sdbus::Variant>;

  // Starts a player owning `busName` on `bus` (which keeps it running),
  // named `identity`, stopped and without a track. PlayPause switches
  // between "Playing" and "Paused"; Next and Previous do nothing.
  MprisPlayerMock(PrivateBus& bus, const std::string& busName, const std::string& identity);

  void set(const std::string& playbackStatus, const Metadata& metadata);
  // Replaces a player property with any value, of any type.
  void setPlayerProperty(const std::string& name, const sdbus::Variant& value);
  // Makes a player method run `code` (python, as dbusmock takes it).
  void setMethod(const std::string& name, const std::string& code);
  // How many times the player method `name` was called.
  std::size_t calls(const std::string& name);

 private:
  std::unique_ptr<sdbus::IConnection> connection_;
  std::unique_ptr<sdbus::IProxy> mock_;
};

class UnansweringPeer {
 public:
  enum class Behaviour { silent, vanishWhenCalled };

  UnansweringPeer(const PrivateBus& bus, const std::string& busName, Behaviour behaviour);

 private:
  std::unique_ptr<ChildProcess> process_;
};

}  // namespace glidemate::testing
