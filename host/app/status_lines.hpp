#pragma once

#include <functional>
#include <string>
#include <vector>

#include "host/server/host_server.hpp"

namespace glidemate::host {

// The headless host's display: one line on stdout for each change a user
// would see (listening, a pairing code and its end, phones coming and
// going, failed handshakes, pause, a pairing block, a key-store error), as
// text or, for scripts, as one JSON object per line whose "event" names it.
class StatusLines {
 public:
  using Output = std::function<void(const std::string& line)>;

  StatusLines(HostServer& server, bool json, Output output);
  ~StatusLines();
  StatusLines(const StatusLines&) = delete;
  StatusLines& operator=(const StatusLines&) = delete;

  // Answers to the "peers" and "paired" commands, and errors.
  void printPeers();
  void printPaired();
  void printError(const std::string& text);
  void printThreeFingerDrag(bool enabled);

  static std::string isoTime(std::chrono::system_clock::time_point t);

 private:
  void emit(const std::string& text, const std::string& json);

  HostServer& server_;
  bool json_;
  Output output_;
  Observable<std::optional<PairingCode>>::Subscription code_;
  Observable<LANListener::State>::Subscription listener_;
  Observable<bool>::Subscription paused_;
  Observable<std::optional<std::chrono::system_clock::time_point>>::Subscription throttle_;
  Observable<std::optional<std::string>>::Subscription storage_;
};

}  // namespace glidemate::host
