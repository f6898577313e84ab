#pragma once

// host/companion: the desktop app's view of the host. The host lives on its
// main executor; the user interface runs on another thread and sees only
// these immutable snapshots, posted on every change, and reaches the host
// only through HostAction values. Nothing here includes Asio or Qt.

#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "kit/session/paired_peer.hpp"

namespace glidemate::host {

struct HostSnapshot {
  enum class Listener { idle, listening, failed };
  enum class Bluetooth { idle, unsupported, unauthorised, poweredOff, advertising };
  enum class Automation { unknown, granted, denied };
  // Where the desktop's own question about input stands, on desktops that
  // ask the user before letting input through: open (or about to be
  // asked), refused; `none` where nothing is asked or once allowed.
  enum class InputQuestion { none, pending, refused };

  struct Peer {
    std::string id;
    std::string name;
    std::string transport;  // "lan", "usb" or "ble"
    std::chrono::system_clock::time_point connectedAt;
    bool viewing = false;  // one of its sessions watches the screen
    bool operator==(const Peer&) const = default;
  };
  struct Permission {
    bool allowed = false;
    std::string why;  // when not allowed
    bool operator==(const Permission&) const = default;
  };

  std::string hostName;
  Listener listener = Listener::idle;
  std::uint16_t port = 0;
  std::string listenerFailure;
  std::vector<Peer> peers;
  bool isPaused = false;
  std::set<std::string> disconnectedPeers;
  // The names of the connected phones watching the screen, in the order
  // they started.
  std::vector<std::string> viewers;
  Bluetooth bluetooth = Bluetooth::idle;

  // The pairing coordinator.
  std::optional<std::string> activeCode;  // six digits
  std::optional<std::string> pairingWith;
  std::vector<PairedPeer> pairedDevices;
  std::optional<std::chrono::system_clock::time_point> throttledUntil;
  std::optional<std::string> storageError;

  Permission accessibility;
  InputQuestion inputQuestion = InputQuestion::none;
  Permission screenRecording;
  Automation automation = Automation::unknown;
  std::string automationWhy;

  bool loginItemEnabled = false;
  std::optional<std::string> loginItemProblem;

  bool hasSeenWelcome = false;
  // Why settings are not being saved, if they are not.
  std::optional<std::string> settingsProblem;

  bool operator==(const HostSnapshot&) const = default;
};

}  // namespace glidemate::host
