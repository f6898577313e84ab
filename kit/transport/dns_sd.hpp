#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace glidemate {

// DNS-SD (Bonjour) as the transports need it: advertise one service, browse
// for a service type with TXT records, resolve a service to an address.
// Every callback runs on the executor the implementation was given, never on
// a platform thread, and never after its handle has been destroyed.

using TxtRecord = std::vector<std::pair<std::string, std::string>>;

// A service instance by name; no interface bound.
struct DnsSdService {
  std::string name;
  std::string type;
  std::string domain;
  bool operator==(const DnsSdService&) const = default;
};

struct DnsSdBrowseResult {
  DnsSdService service;
  int interfaceIndex = 0;
  TxtRecord txt;
  bool operator==(const DnsSdBrowseResult&) const = default;
};

struct DnsSdAddress {
  std::string host;  // numeric address, without an IPv6 scope suffix
  std::uint16_t port = 0;
  bool operator==(const DnsSdAddress&) const = default;
};

class DnsSd {
 public:
  // What happens to an advertisement over its life.
  struct Registered {
    std::string name;  // the name in use: a collision makes it differ from the one asked for
    bool operator==(const Registered&) const = default;
  };
  struct Unavailable {
    std::string reason;  // the DNS-SD daemon is missing or went away; advertising resumes when it returns
    bool operator==(const Unavailable&) const = default;
  };
  struct Failed {
    std::string reason;
    bool operator==(const Failed&) const = default;
  };
  using AdvertisementEvent = std::variant<Registered, Unavailable, Failed>;

  // Withdraws what it stands for when destroyed.
  class Handle {
   public:
    virtual ~Handle() = default;
  };

  using AdvertisementHandler = std::function<void(const AdvertisementEvent&)>;
  // The full current result set on every change; nothing on failure.
  using BrowseHandler = std::function<void(const std::vector<DnsSdBrowseResult>&)>;
  using BrowseFailureHandler = std::function<void(const std::string& reason)>;
  using ResolveHandler = std::function<void(const std::variant<DnsSdAddress, std::string>&)>;

  virtual ~DnsSd() = default;

  virtual std::unique_ptr<Handle> advertise(const std::string& name, const std::string& type,
                                            std::uint16_t port, const TxtRecord& txt,
                                            AdvertisementHandler onEvent) = 0;
  virtual std::unique_ptr<Handle> browse(const std::string& type, BrowseHandler onResults,
                                         BrowseFailureHandler onFailure) = 0;
  // Reports the address, or an error text, once.
  virtual std::unique_ptr<Handle> resolve(const DnsSdService& service, ResolveHandler onResolved) = 0;
};

}  // namespace glidemate
