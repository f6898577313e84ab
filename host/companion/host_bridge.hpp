#pragma once

#include <asio/any_io_executor.hpp>
#include <functional>
#include <memory>
#include <vector>

#include "host/companion/host_action.hpp"
#include "host/companion/host_snapshot.hpp"
#include "host/companion/login_item_service.hpp"
#include "host/companion/permissions_service.hpp"
#include "host/server/host_server.hpp"

namespace glidemate::host {

// The host's end of the bridge to the user interface. It follows every
// observable the interface shows and, after each change, hands the sink a
// fresh immutable snapshot; changes made in one turn of the executor make
// one snapshot. It also carries out the interface's actions. Created, used
// and destroyed on the main executor; the sink is called there too and must
// only pass the snapshot on.
class HostBridge {
 public:
  using Sink = std::function<void(std::shared_ptr<const HostSnapshot>)>;

  struct Sources {
    HostServer& server;
    PermissionsService& permissions;
    LoginItemService& loginItem;
    UserDefaults& defaults;
  };

  static constexpr const char* hasSeenWelcomeKey = "hasSeenWelcome";

  // Publishes the first snapshot straight away (as a posted call).
  HostBridge(asio::any_io_executor executor, Sources sources, Sink sink);
  ~HostBridge();
  HostBridge(const HostBridge&) = delete;
  HostBridge& operator=(const HostBridge&) = delete;

  void apply(const HostAction& action);

 private:
  struct Subscriptions;

  void changed();
  void publish();
  HostSnapshot snapshot() const;

  asio::any_io_executor executor_;
  Sources sources_;
  Sink sink_;
  std::unique_ptr<Subscriptions> subscriptions_;
  // Told to the posted publish() whether the bridge is still there.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  bool publishPending_ = false;
  bool hasSeenWelcome_ = false;
  std::optional<std::string> settingsProblem_;
};

}  // namespace glidemate::host
