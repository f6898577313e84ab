#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <sdbus-c++/Types.h>
#include <string>
#include <vector>

#include "kit/dbus/dbus_connection.hpp"

namespace glidemate::host {

// The answer to a portal request: the Response signal's code and results.
struct PortalResponse {
  static constexpr std::uint32_t success = 0;
  // The user said no, or closed the dialog.
  static constexpr std::uint32_t cancelled = 1;
  static constexpr std::uint32_t failed = 2;

  std::uint32_t code = failed;
  std::map<std::string, sdbus::Variant> results;
};

// The object paths the portal gives requests and sessions made by one
// connection: the caller picks the last element (a token), the portal puts
// the caller's unique name before it (":1.42" -> "1_42").
std::string portalObjectPath(const std::string& uniqueName, const std::string& kind, const std::string& token);

// Listens for the Response of one portal request. Made before the call
// that starts the request, so that an answer sent at once is not missed.
// Main executor only.
class PortalRequest {
 public:
  // `answered` runs once the response is in.
  PortalRequest(DBusConnection& connection, std::string portalName, std::string path,
                std::function<void()> answered);
  PortalRequest(const PortalRequest&) = delete;
  PortalRequest& operator=(const PortalRequest&) = delete;

  const std::string& path() const { return path_; }
  // Listens at `handle` too when the portal's reply names another path
  // (portals before version 0.9 chose their own).
  void follow(const std::string& handle);
  const std::optional<PortalResponse>& response() const { return response_; }

 private:
  void listen(const std::string& path);

  DBusConnection& connection_;
  std::string portalName_;
  std::string path_;
  std::function<void()> answered_;
  std::vector<sdbus::Slot> slots_;
  std::optional<PortalResponse> response_;
};

}  // namespace glidemate::host
