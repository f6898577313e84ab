// glidemate-host: lets a paired phone drive this computer. Headless: status
// lines on stdout, control commands on stdin, diagnostics on stderr.
#include <unistd.h>

#include <asio/io_context.hpp>
#include <asio/signal_set.hpp>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <memory>

#include "host/app/control_commands.hpp"
#include "host/app/desktop_services.hpp"
#include "host/app/host_options.hpp"
#include "host/app/input_backend.hpp"
#include "host/app/instance_lock.hpp"
#include "host/app/line_reader.hpp"
#include "host/app/status_lines.hpp"
#include "host/app/stderr_logger.hpp"
#include "host/server/host_server.hpp"
#include "kit/session/xdg/file_keychain.hpp"
#include "kit/transport/avahi/avahi_dns_sd.hpp"
#include "kit/transport/ble/bluez/bluez_peripheral_manager.hpp"

namespace {

using namespace glidemate;
using namespace glidemate::host;

void printLine(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

int run(const HostOptions& options) {
  const HostFolders folders = HostFolders::resolve(options.dataDir);
  auto instance = InstanceLock::acquire(folders, "glidemate-host");
  if (!instance.lock) {
    std::fprintf(stderr, "glidemate-host: %s; stop it first, or use another --data-dir.\n",
                 InstanceLock::alreadyRunning(instance.holder).c_str());
    return 1;
  }
  asio::io_context io;
  StderrLogger logger;
  FileKeychain keys(folders.keys);
  UserDefaults defaults(folders.settingsFile);
  if (defaults.problem()) {
    logger.log("settings", "Using defaults: " + *defaults.problem() +
                               ", and it is left as it is. Mend or remove it, then restart.");
  }

  const auto systemBus = openSystemBus(io.get_executor(), logger);
  const auto sessionBus = openSessionBus(io.get_executor(), logger);

  // Where phones' input goes, chosen from what the session answers before
  // anything is served.
  const SessionFacts facts = readSessionFactsBeforeStart(io, sessionBus, systemBus);
  const InputBackend input(chooseInput(options.input, facts), options.input != HostOptions::Input::automatic, facts,
                           io.get_executor(), sessionBus, logger, &defaults);
  std::unique_ptr<AvahiDnsSd> dnsSd;
  if (options.advertise) dnsSd = std::make_unique<AvahiDnsSd>(io.get_executor());

  auto server = HostServer::make(io.get_executor(), HostServer::Configuration{
                                                       .keys = keys,
                                                       .defaults = defaults,
                                                       .logger = logger,
                                                       .dnsSd = dnsSd.get(),
                                                       .hostName = options.name,
                                                       .port = options.port,
                                                       .poster = input.poster(),
                                                       .bluetoothManager =
                                                           systemBus ? BlueZPeripheralManager::factory(systemBus, logger)
                                                                     : UnsupportedBLEPeripheralManager::make,
                                                   },
                                                   desktopServices(io.get_executor(),
                                                                   DesktopFacilities{.x11Poster = input.x11Poster(),
                                                                                     .systemBus = systemBus,
                                                                                     .sessionBus = sessionBus,
                                                                                     .defaults = &defaults,
                                                                                     .shortcuts = folders.shortcuts,
                                                                                     .mutter = input.mutter(),
                                                                                     .wlroots = input.wlroots(),
                                                                                     .portal = input.portal(),
                                                                                     .poster = input.poster(),
                                                                                     .waylandSession = input.waylandSession()},
                                                                   logger));

  StatusLines status(*server, options.json, printLine);
  ControlCommands commands(*server, status, defaults);
  commands.onAskInput([&input] { return input.askForInputAgain(); });

  asio::signal_set signals(io, SIGINT, SIGTERM);
  auto shutDown = [&] {
    server->stop();
    io.stop();
  };
  signals.async_wait([&](const asio::error_code& error, int) {
    if (!error) shutDown();
  });
  LineReader stdinReader(io.get_executor(), STDIN_FILENO, [&](const std::string& line) {
    if (commands.run(line) == ControlCommands::Outcome::quit) shutDown();
  });

  server->start();
  io.run();
  // The server has stopped; let its cancelled connections finish their
  // clean-up on the context before it goes, rather than in its shutdown.
  io.restart();
  io.poll();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // A phone that hangs up mid-write must not kill the host.
  std::signal(SIGPIPE, SIG_IGN);
  HostOptions options;
  try {
    options = HostOptions::parse(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::invalid_argument& e) {
    std::fprintf(stderr, "glidemate-host: %s\n\n%s", e.what(), HostOptions::usage());
    return 2;
  }
  if (options.help) {
    std::fputs(HostOptions::usage(), stdout);
    return 0;
  }
  if (options.version) {
    std::printf("glidemate-host %s\n", GLIDEMATE_VERSION);
    return 0;
  }
  try {
    return run(options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "glidemate-host: %s\n", e.what());
    return 1;
  }
}
