// Test helper: talks to python-dbusmock objects on a private bus through the
// mock's own interface (org.freedesktop.DBus.Mock), synchronously, from a
// connection of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <sdbus-c++/sdbus-c++.h>
#include <string>
#include <vector>

namespace glidemate::testing {

class DBusMockClient {
 public:
  explicit DBusMockClient(const std::string& busAddress)
      : connection_(sdbus::createSessionBusConnectionWithAddress(busAddress)) {}

  static constexpr const char* mockInterface = "org.freedesktop.DBus.Mock";

  // Adds (or replaces) a method of the mocked object; `code` is Python run
  // with `args` and `self`, setting `ret` for a result.
  void addMethod(const std::string& service, const std::string& path, const std::string& interface,
                 const std::string& method, const std::string& in, const std::string& out,
                 const std::string& code) {
    auto proxy = sdbus::createProxy(*connection_, service, path);
    proxy->callMethod("AddMethod").onInterface(mockInterface).withArguments(interface, method, in, out, code);
  }

  // The arguments of every call of `method` on the object so far.
  std::vector<std::vector<sdbus::Variant>> calls(const std::string& service, const std::string& path,
                                                 const std::string& method) {
    auto proxy = sdbus::createProxy(*connection_, service, path);
    std::vector<sdbus::Struct<std::uint64_t, std::vector<sdbus::Variant>>> recorded;
    proxy->callMethod("GetMethodCalls").onInterface(mockInterface).withArguments(method).storeResultsTo(recorded);
    std::vector<std::vector<sdbus::Variant>> out;
    for (auto& call : recorded) out.push_back(std::get<1>(call));
    return out;
  }

  sdbus::IConnection& connection() { return *connection_; }

 private:
  std::unique_ptr<sdbus::IConnection> connection_;
};

}  // namespace glidemate::testing
