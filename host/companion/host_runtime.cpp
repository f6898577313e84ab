#include "host/companion/host_runtime.hpp"

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <thread>

#include "host/app/desktop_services.hpp"
#include "host/app/stderr_logger.hpp"
#include "host/companion/host_bridge.hpp"
#include "host/companion/linux/linux_permission_probe.hpp"
#include "host/app/input_backend.hpp"
#include "kit/session/xdg/file_keychain.hpp"
#include "kit/transport/avahi/avahi_dns_sd.hpp"
#include "kit/transport/ble/bluez/bluez_peripheral_manager.hpp"

namespace glidemate::host {
struct HostRuntime::State {
  explicit State(Options o)
      : options(std::move(o)),
        keys(options.folders.keys),
        defaults(options.folders.settingsFile),
        systemBus(openSystemBus(io.get_executor(), logger)),
        sessionBus(openSessionBus(io.get_executor(), logger)),
        input(openInput()),
        probe(*input),
        permissions(io.get_executor(), probe),
        loginItem(options.autostartFolder, options.autostartEntry) {
    if (defaults.problem()) {
      logger.log("settings", "Using defaults: " + *defaults.problem() +
                                 ", and it is left as it is. Mend or remove it, then restart.");
    }
    if (options.advertise) dnsSd = std::make_unique<AvahiDnsSd>(io.get_executor());
    server = HostServer::make(
        io.get_executor(),
        HostServer::Configuration{
            .keys = keys,
            .defaults = defaults,
            .logger = logger,
            .dnsSd = dnsSd.get(),
            .hostName = options.name,
            .port = options.port,
            .poster = input->poster(),
            .bluetoothManager = systemBus ? BlueZPeripheralManager::factory(systemBus, logger)
                                          : UnsupportedBLEPeripheralManager::make,
        },
        desktopServices(io.get_executor(),
                        DesktopFacilities{.x11Poster = input->x11Poster(),
                                          .systemBus = systemBus,
                                          .sessionBus = sessionBus,
                                          .defaults = &defaults,
                                          .shortcuts = options.folders.shortcuts,
                                          .mutter = input->mutter(),
                                          .wlroots = input->wlroots(),
                                          .portal = input->portal(),
                                          .poster = input->poster(),
                                          .waylandSession = input->waylandSession()},
                        logger));
  }

  // Where phones' input goes, chosen as the headless host chooses it,
  // before the host's thread runs the context.
  std::unique_ptr<InputBackend> openInput() {
    const SessionFacts facts = readSessionFactsBeforeStart(io, sessionBus, systemBus);
    return std::make_unique<InputBackend>(chooseInput(HostOptions::Input::automatic, facts), false, facts,
                                          io.get_executor(), sessionBus, logger, &defaults);
  }

  // Let cancelled work finish on the context, on whichever thread calls.
  void drain() {
    io.restart();
    io.poll();
  }

  Options options;
  asio::io_context io;
  asio::executor_work_guard<asio::io_context::executor_type> work = asio::make_work_guard(io);
  StderrLogger logger;
  FileKeychain keys;
  UserDefaults defaults;
  std::shared_ptr<DBusConnection> systemBus;
  std::shared_ptr<DBusConnection> sessionBus;
  std::unique_ptr<InputBackend> input;
  LinuxPermissionProbe probe;
  PermissionsService permissions;
  LoginItemService loginItem;
  std::unique_ptr<AvahiDnsSd> dnsSd;
  std::shared_ptr<HostServer> server;
  std::unique_ptr<HostBridge> bridge;
  std::thread thread;
};

HostRuntime::HostRuntime(Options options, Sink sink) : state_(std::make_unique<State>(std::move(options))) {
  State& s = *state_;
  asio::post(s.io, [&s, sink = std::move(sink)] {
    s.bridge = std::make_unique<HostBridge>(
        s.io.get_executor(), HostBridge::Sources{*s.server, s.permissions, s.loginItem, s.defaults}, sink);
    // The desktop's question to the user is answered when the user
    // answers: it is followed, not polled for.
    s.input->onConsentChanged([&s] { s.permissions.refreshInput(); });
    // Until input can be posted, keep asking.
    s.permissions.refresh();
    if (!*s.permissions.isAccessibilityTrusted) s.permissions.startPolling();
    s.server->start();
  });
  s.thread = std::thread([&s] { s.io.run(); });
}

HostRuntime::~HostRuntime() {
  State& s = *state_;
  asio::post(s.io, [&s] {
    s.bridge.reset();
    s.input->onConsentChanged(nullptr);
    s.permissions.stopPolling();
    s.server->stop();
    s.work.reset();
    s.io.stop();
  });
  s.thread.join();
  // The thread is gone: what is left runs here, before the objects go.
  s.drain();
  s.server.reset();
  s.drain();
}

void HostRuntime::perform(HostAction action) {
  State& s = *state_;
  asio::post(s.io, [&s, action = std::move(action)] {
    if (s.bridge) s.bridge->apply(action);
  });
}

}  // namespace glidemate::host
