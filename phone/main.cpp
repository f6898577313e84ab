// glidemate: a phone on the command line. It plays the phone's side of the
// protocol: finds hosts, pairs with a code, reconnects with the stored key
// and sends input and commands, printing what the host sends back.
#include <unistd.h>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>
#include <asio/redirect_error.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "host/server/user_defaults.hpp"
#include "kit/session/handshake_error.hpp"
#include "kit/session/secure_random.hpp"
#include "kit/session/session.hpp"
#include "kit/input/touch_classifier.hpp"
#include "kit/input/touch_trace_parser.hpp"
#include "kit/input/trackpad_messages.hpp"
#include "kit/session/xdg/file_keychain.hpp"
#include "kit/transport/avahi/avahi_dns_sd.hpp"
#include "kit/transport/bonjour_discovery.hpp"
#include "kit/transport/stream_transport.hpp"
#include "phone/chunk_saver.hpp"
#include "phone/phone_pairing.hpp"
#include "phone/send_items.hpp"

namespace {

using namespace glidemate;
using namespace std::chrono_literals;

constexpr const char* usage =
    "usage: glidemate [options] COMMAND ...\n"
    "\n"
    "A phone on the command line, for trying a Glidemate host.\n"
    "\n"
    "commands:\n"
    "  browse [--timeout S]             list the hosts on the local network\n"
    "  pair HOST [--code CODE]          pair with HOST (asks for the code when not given)\n"
    "  send HOST ITEM... [--wait MS]    connect with the stored key and send each item,\n"
    "                                   then print what arrives for MS milliseconds (500)\n"
    "  replay HOST FILE [--wait MS]     replay a recorded touch trace through the trackpad\n"
    "                                   logic and send what it decides, as a phone app would\n"
    "\n"
    "HOST is a host's name or id as browse shows it, or ADDRESS:PORT.\n"
    "ITEMs: ping | move DX DY | down left|right | up left|right | click left|right |\n"
    "       scroll PHASE DX DY | gesture NAME | key NAME [MODIFIERS] | text STRING |\n"
    "       a command as JSON, e.g. '{\"getVolume\":{}}'\n"
    "FILE: one JSON object per line, a touch sample\n"
    "       {\"id\":1,\"phase\":\"began\",\"x\":10,\"y\":20,\"time\":0.0}\n"
    "       (phase began, moved, ended or cancelled; time in seconds) or a frame's end\n"
    "       {\"flush\":0.016}, when the touches so far are turned into messages\n"
    "\n"
    "options:\n"
    "  --id ID          this phone's id (default: one made and kept on first use)\n"
    "  --name NAME      this phone's name (default: \"glidemate on <host name>\")\n"
    "  --data-dir DIR   where paired hosts are kept (default: $XDG_DATA_HOME/glidemate-phone)\n"
    "  --timeout S      how long to look for hosts (default 3)\n"
    "  --save-chunks DIR  join the icon chunks the host sends (app icons, artwork as\n"
    "                   \"$artwork\") and write each image to DIR, one file per bundle\n"
    "                   id; each file written is printed as {\"saved\":{...}}\n"
    "  --until TEXT     stop waiting for replies once a printed line contains TEXT\n"
    "  --help           show this text\n";

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Options {
  std::optional<std::string> id;
  std::optional<std::string> name;
  std::optional<std::string> dataDir;
  std::optional<std::string> code;
  std::optional<std::string> saveChunks;
  std::optional<std::string> until;
  double timeoutSeconds = 3;
  int waitMs = 500;
  bool help = false;
  std::vector<std::string> positional;
};

Options parseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw UsageError(arg + " needs a value");
      return argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      o.help = true;
    } else if (arg == "--id") {
      o.id = value();
    } else if (arg == "--name") {
      o.name = value();
    } else if (arg == "--data-dir") {
      o.dataDir = value();
    } else if (arg == "--code") {
      o.code = value();
    } else if (arg == "--save-chunks") {
      o.saveChunks = value();
    } else if (arg == "--until") {
      o.until = value();
    } else if (arg == "--timeout") {
      const std::string v = value();
      char* end = nullptr;
      o.timeoutSeconds = std::strtod(v.c_str(), &end);
      if (end == v.c_str() || *end != '\0' || !(o.timeoutSeconds > 0)) {
        throw UsageError("--timeout needs a positive number of seconds");
      }
    } else if (arg == "--wait") {
      const std::string v = value();
      const auto [end, error] = std::from_chars(v.data(), v.data() + v.size(), o.waitMs);
      if (error != std::errc() || end != v.data() + v.size() || o.waitMs < 0) {
        throw UsageError("--wait needs a number of milliseconds");
      }
    } else {
      o.positional.push_back(arg);
    }
  }
  return o;
}

std::filesystem::path dataFolder(const Options& o) {
  if (o.dataDir) return *o.dataDir;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/') {
    return std::filesystem::path(xdg) / "glidemate-phone";
  }
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home != nullptr ? home : "/tmp") / ".local/share/glidemate-phone";
}

struct Identity {
  std::string id;
  std::string name;
};

Identity identity(const Options& o, host::UserDefaults& defaults) {
  Identity me;
  if (o.id) {
    me.id = *o.id;
  } else if (auto stored = defaults.string("phoneId")) {
    me.id = *stored;
  } else {
    me.id = SecureRandom::uuid();
    defaults.set("phoneId", me.id);
  }
  char hostName[256] = {};
  ::gethostname(hostName, sizeof hostName - 1);
  me.name = o.name.value_or(std::string("glidemate on ") + hostName);
  return me;
}

// Where to connect, and the host's id when discovery told it.
struct Target {
  std::string address;
  std::uint16_t port = 0;
  std::optional<std::string> id;
  std::string label;
};

std::optional<Target> parseAddress(const std::string& text) {
  const auto colon = text.rfind(':');
  if (colon == std::string::npos || colon + 1 >= text.size()) return std::nullopt;
  unsigned port = 0;
  const char* begin = text.data() + colon + 1;
  const auto [end, error] = std::from_chars(begin, text.data() + text.size(), port);
  if (error != std::errc() || end != text.data() + text.size() || port == 0 || port > 65535) {
    return std::nullopt;
  }
  std::string address = text.substr(0, colon);
  if (address.size() >= 2 && address.front() == '[' && address.back() == ']') {
    address = address.substr(1, address.size() - 2);
  }
  if (address.empty()) return std::nullopt;
  return Target{address, static_cast<std::uint16_t>(port), std::nullopt, text};
}

// Browses until `stop` says enough or the time runs out; returns the last list.
asio::awaitable<std::vector<DiscoveredHost>> browse(
    BonjourDiscovery& discovery, std::chrono::steady_clock::duration timeout,
    const std::function<bool(const std::vector<DiscoveredHost>&)>& stop) {
  auto executor = co_await asio::this_coro::executor;
  std::vector<DiscoveredHost> hosts;
  asio::steady_timer timer(executor, timeout);
  discovery.start();
  // The browse stream and the timer race; whichever ends first stops the other.
  Task watcher(executor, [](BonjourDiscovery& d, std::vector<DiscoveredHost>& out,
                            std::function<bool(const std::vector<DiscoveredHost>&)> enough,
                            asio::steady_timer& t) -> asio::awaitable<void> {
    while (auto list = co_await d.hosts().next()) {
      out = *list;
      if (enough && enough(out)) {
        t.cancel();
        co_return;
      }
    }
  }(discovery, hosts, stop, timer));
  asio::error_code ignored;
  co_await timer.async_wait(asio::redirect_error(asio::use_awaitable, ignored));
  watcher.cancel();
  discovery.stop();
  co_return hosts;
}

asio::awaitable<Target> findHost(AvahiDnsSd& dnsSd, const std::string& wanted,
                                 std::chrono::steady_clock::duration timeout) {
  if (auto direct = parseAddress(wanted)) co_return *direct;
  auto executor = co_await asio::this_coro::executor;
  BonjourDiscovery discovery(executor, dnsSd);
  auto matches = [&](const DiscoveredHost& h) { return h.id == wanted || h.name == wanted; };
  const auto hosts = co_await browse(discovery, timeout, [&](const auto& list) {
    return std::any_of(list.begin(), list.end(), matches);
  });
  const auto it = std::find_if(hosts.begin(), hosts.end(), matches);
  if (it == hosts.end()) throw std::runtime_error("no host named \"" + wanted + "\" was found on the network");
  const auto address = co_await discovery.resolve(*it);
  co_return Target{address.host, address.port, it->id, it->name};
}

asio::awaitable<void> listHosts(AvahiDnsSd& dnsSd, std::chrono::steady_clock::duration timeout) {
  auto executor = co_await asio::this_coro::executor;
  BonjourDiscovery discovery(executor, dnsSd);
  const auto hosts = co_await browse(discovery, timeout, nullptr);
  if (hosts.empty()) std::cout << "No hosts found" << std::endl;
  for (const auto& host : hosts) {
    std::string where = "(unresolved)";
    try {
      const auto address = co_await discovery.resolve(host);
      where = address.host + ":" + std::to_string(address.port);
    } catch (const std::exception& e) {
      where = std::string("(") + e.what() + ")";
    }
    std::cout << host.id << "\t" << host.name << "\t" << where << std::endl;
  }
}

std::optional<PairingCode> askForCode(const PeerInfo& host) {
  for (;;) {
    std::cerr << "Enter the code shown on " << host.name << ": " << std::flush;
    std::string line;
    if (!std::getline(std::cin, line)) return std::nullopt;
    if (auto code = PairingCode::fromText(line)) return code;
    std::cerr << "The code is the six digits on the host's screen." << std::endl;
  }
}

asio::awaitable<std::shared_ptr<Session>> connect(const Target& target, const Identity& me,
                                                   std::shared_ptr<phone::PhonePairing> pairing) {
  auto executor = co_await asio::this_coro::executor;
  auto transport = StreamTransport::connect(executor, target.address, target.port);
  auto session = Session::make(executor, transport, Session::Role::client, PeerInfo{me.id, me.name},
                               pairing, target.id, 60s);
  try {
    co_await session->performHandshake();
  } catch (const HandshakeError& e) {
    session->close();
    if (std::holds_alternative<HandshakeError::NotPaired>(e.which()) ||
        std::holds_alternative<HandshakeError::PairingRefused>(e.which())) {
      if (!pairing->paired()) {
        throw std::runtime_error("this phone is not paired with " + target.label +
                                 "; pair it first with: glidemate pair " + target.label);
      }
    }
    if (const auto* reported = std::get_if<HandshakeError::PeerReported>(&e.which())) {
      throw std::runtime_error(target.label + " said: " + reported->reason);
    }
    throw std::runtime_error(failureReason(e));
  } catch (const TransportError& e) {
    session->close();
    throw std::runtime_error("could not reach " + target.label + ": " + e.what());
  } catch (const asio::system_error&) {
    throw;
  } catch (const std::exception& e) {
    session->close();
    throw std::runtime_error(failureReason(e));
  }
  co_return session;
}

// What `send` does with what the host sends back, besides printing it.
struct Listening {
  std::chrono::milliseconds wait;
  // Writes the images that icon chunks make.
  std::optional<std::string> saveChunks;
  // Stops waiting once a printed line contains this.
  std::optional<std::string> until;
};

// Prints what arrives (and saves what the saver makes of it); tells
// `heard` of a line containing `until`.
asio::awaitable<void> printIncoming(std::shared_ptr<Session> session, std::optional<phone::ChunkSaver> saver,
                                    std::optional<std::string> until, std::function<void()> heard) {
  auto incoming = session->messages();
  auto print = [&](const std::string& line) {
    std::cout << line << std::endl;
    if (until && line.find(*until) != std::string::npos) heard();
  };
  while (auto m = co_await incoming.next()) {
    print(phone::messageJson(*m));
    const auto* chunk = std::get_if<Message::AppIconChunk>(&m->value);
    if (chunk == nullptr || !saver) continue;
    if (const auto path = saver->accept(*chunk)) {
      print(nlohmann::json{{"saved", {{"bundleId", chunk->bundleId}, {"file", path->string()}}}}.dump());
    }
  }
}

asio::awaitable<void> sendItems(std::shared_ptr<Session> session, std::vector<Message> messages,
                                Listening listening) {
  auto executor = co_await asio::this_coro::executor;
  std::optional<phone::ChunkSaver> saver;
  if (listening.saveChunks) saver.emplace(*listening.saveChunks);
  asio::steady_timer timer(executor);
  bool heard = false;
  Task printer(executor, printIncoming(session, std::move(saver), listening.until, [&] {
                 heard = true;
                 timer.cancel();
               }));
  for (auto& message : messages) {
    const Channel channel = message.preferredChannel();
    co_await session->send(std::move(message), channel);
  }
  timer.expires_after(listening.wait);
  asio::error_code ignored;
  if (!heard) co_await timer.async_wait(asio::redirect_error(asio::use_awaitable, ignored));
  session->close();
}

// Reconnects with the stored key and sends `items`.
asio::awaitable<void> connectAndSend(AvahiDnsSd& dnsSd, std::string host, Identity self,
                                     std::shared_ptr<phone::PhonePairing> pairing,
                                     std::chrono::steady_clock::duration timeout,
                                     std::vector<Message> items, Listening listening) {
  const Target target = co_await findHost(dnsSd, host, timeout);
  auto session = co_await connect(target, self, pairing);
  co_await sendItems(session, std::move(items), std::move(listening));
}

int run(const Options& o) {
  if (o.positional.empty()) throw UsageError("no command given");
  const std::string command = o.positional.front();
  const std::vector<std::string> args(o.positional.begin() + 1, o.positional.end());
  const auto timeout = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(o.timeoutSeconds));

  asio::io_context io;
  AvahiDnsSd dnsSd(io.get_executor());
  const auto folder = dataFolder(o);
  FileKeychain keys(folder / "keys");
  KeychainStore store(phone::PhonePairing::service, keys);
  host::UserDefaults defaults(folder / "phone.json");

  std::exception_ptr failure;
  auto spawn = [&](asio::awaitable<void> work) {
    asio::co_spawn(io, std::move(work), [&](std::exception_ptr e) { failure = e; });
  };

  if (command == "browse") {
    if (!args.empty()) throw UsageError("browse takes no arguments");
    spawn(listHosts(dnsSd, timeout));
  } else if (command == "pair") {
    if (args.size() != 1) throw UsageError("pair needs one HOST");
    std::optional<PairingCode> given;
    if (o.code) {
      given = PairingCode::fromText(*o.code);
      if (!given) throw UsageError("--code needs the six digits shown on the host");
    }
    const Identity me = identity(o, defaults);
    auto pairing = std::make_shared<phone::PhonePairing>(
        store, [given](const PeerInfo& host) { return given ? given : askForCode(host); });
    spawn([](AvahiDnsSd& d, std::string host, Identity self, std::shared_ptr<phone::PhonePairing> p,
             std::chrono::steady_clock::duration t) -> asio::awaitable<void> {
      Target target = co_await findHost(d, host, t);
      // Pairing asks for a code; a stale key for this host must not be used.
      target.id = std::nullopt;
      auto session = co_await connect(target, self, p);
      session->close();
      if (p->saveError()) throw std::runtime_error("paired, but the key could not be kept: " + *p->saveError());
      std::cout << "Paired with " << target.label << std::endl;
    }(dnsSd, args[0], me, pairing, timeout));
  } else if (command == "send") {
    if (args.empty()) throw UsageError("send needs a HOST");
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    std::vector<Message> messages;
    try {
      messages = phone::parseSendItems(
          std::vector<std::string>(args.begin() + 1, args.end()),
          static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
    } catch (const std::invalid_argument& e) {
      throw UsageError(e.what());
    }
    const Identity me = identity(o, defaults);
    auto pairing = std::make_shared<phone::PhonePairing>(store, nullptr);
    spawn(connectAndSend(dnsSd, args[0], me, pairing, timeout, std::move(messages),
                         Listening{std::chrono::milliseconds(o.waitMs), o.saveChunks, o.until}));
  } else if (command == "replay") {
    if (args.size() != 2) throw UsageError("replay needs a HOST and a FILE");
    std::ifstream file(args[1]);
    if (!file) throw std::runtime_error("cannot read " + args[1]);
    std::stringstream text;
    text << file.rdbuf();
    // Bad lines are reported before anything is sent.
    std::vector<Message> messages;
    TouchClassifier classifier;
    for (const auto& step : TouchTraceParser::parse(text.str())) {
      if (const auto* touch = std::get_if<TouchTraceStep::Touch>(&step.value)) {
        classifier.apply(touch->sample);
      } else {
        for (const auto& action : classifier.flush(std::get<TouchTraceStep::Flush>(step.value).now)) {
          for (auto& m : trackpadMessages(action)) messages.push_back(std::move(m));
        }
      }
    }
    const Identity me = identity(o, defaults);
    auto pairing = std::make_shared<phone::PhonePairing>(store, nullptr);
    spawn(connectAndSend(dnsSd, args[0], me, pairing, timeout, std::move(messages),
                         Listening{std::chrono::milliseconds(o.waitMs), o.saveChunks, o.until}));
  } else {
    throw UsageError("unknown command '" + command + "'");
  }
  io.run();
  if (failure) std::rethrow_exception(failure);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Options o = parseOptions(argc, argv);
    if (o.help) {
      std::fputs(usage, stdout);
      return 0;
    }
    return run(o);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "glidemate: %s\n\n%s", e.what(), usage);
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "glidemate: %s\n", e.what());
    return 1;
  }
}
