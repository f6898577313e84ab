#include "kit/transport/lan_listener.hpp"

#include <asio/co_spawn.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/ip/v6_only.hpp>
#include <asio/redirect_error.hpp>
#include <asio/use_awaitable.hpp>
#include <vector>

#include "kit/wire/protocol.hpp"

namespace glidemate {
namespace {

using asio::ip::tcp;

constexpr std::string_view category = "listener";

// Binds and listens; throws asio::system_error.
std::shared_ptr<tcp::acceptor> listenOn(const asio::any_io_executor& executor,
                                        const tcp::endpoint& endpoint) {
  auto acceptor = std::make_shared<tcp::acceptor>(executor);
  acceptor->open(endpoint.protocol());
  acceptor->set_option(tcp::acceptor::reuse_address(true));
  if (endpoint.protocol() == tcp::v6()) acceptor->set_option(asio::ip::v6_only(true));
  acceptor->bind(endpoint);
  acceptor->listen();
  return acceptor;
}

}  // namespace

// The sockets of one start(); their loops reach the listener's streams only
// through `sink`, which dies with the listener.
struct LANListener::Acceptors {
  struct Sink {
    StreamProducer<std::shared_ptr<StreamTransport>>* connections;
    StreamProducer<State>* states;
  };
  std::shared_ptr<Sink> sink;
  std::vector<std::shared_ptr<tcp::acceptor>> acceptors;
  std::vector<Task> loops;

  ~Acceptors() {
    // Closing cancels the pending accepts; the loops then see the sink gone.
    sink.reset();
    for (auto& a : acceptors) {
      asio::error_code ignored;
      a->close(ignored);
    }
  }

  static asio::awaitable<void> acceptLoop(std::shared_ptr<tcp::acceptor> acceptor,
                                          std::weak_ptr<Sink> weakSink) {
    for (;;) {
      asio::error_code error;
      auto socket = co_await acceptor->async_accept(asio::redirect_error(asio::use_awaitable, error));
      auto sink = weakSink.lock();
      if (!sink) co_return;
      if (error) {
        if (error == asio::error::operation_aborted) co_return;
        // Running out of descriptors passes; anything else ends listening.
        if (error == asio::error::no_descriptors || error == asio::error::connection_aborted) {
          continue;
        }
        sink->states->yield(Failed{error.message()});
        co_return;
      }
      sink->connections->yield(StreamTransport::make(std::move(socket), TransportKind::lan));
    }
  }
};

LANListener::LANListener(asio::any_io_executor executor, std::string hostId, std::string hostName,
                         DnsSd* dnsSd, Logger& logger, std::uint16_t port)
    : executor_(std::move(executor)),
      hostId_(std::move(hostId)),
      hostName_(std::move(hostName)),
      dnsSd_(dnsSd),
      logger_(logger),
      requestedPort_(port),
      connections_(AsyncStream<std::shared_ptr<StreamTransport>>::make(executor_)),
      states_(AsyncStream<State>::make(executor_)) {}

LANListener::~LANListener() = default;

TxtRecord LANListener::txtRecord(const std::string& hostId, const std::string& hostName) {
  return {{"id", hostId}, {"name", hostName}, {"v", std::to_string(GlidemateProtocol::version)}};
}

void LANListener::start() {
  if (acceptors_) return;
  auto acceptors = std::make_unique<Acceptors>();
  acceptors->sink = std::make_shared<Acceptors::Sink>(
      Acceptors::Sink{&connections_.second, &states_.second});
  std::uint16_t port = 0;
  try {
    acceptors->acceptors.push_back(listenOn(executor_, tcp::endpoint(tcp::v4(), requestedPort_)));
    port = acceptors->acceptors.front()->local_endpoint().port();
  } catch (const asio::system_error& e) {
    states_.second.yield(Failed{e.code().message()});
    return;
  }
  try {
    acceptors->acceptors.push_back(listenOn(executor_, tcp::endpoint(tcp::v6(), port)));
  } catch (const asio::system_error& e) {
    logger_.log(category, "Listening on IPv4 only: " + e.code().message());
  }
  for (const auto& acceptor : acceptors->acceptors) {
    acceptors->loops.emplace_back(executor_, Acceptors::acceptLoop(acceptor, acceptors->sink));
  }
  acceptors_ = std::move(acceptors);
  states_.second.yield(Listening{port});
  advertise(port);
}

void LANListener::advertise(std::uint16_t port) {
  if (dnsSd_ == nullptr) return;
  advertisement_ = dnsSd_->advertise(
      hostName_, std::string(GlidemateProtocol::serviceType), port, txtRecord(hostId_, hostName_),
      [this, port](const DnsSd::AdvertisementEvent& event) {
        if (const auto* registered = std::get_if<DnsSd::Registered>(&event)) {
          logger_.log(category, "Advertising \"" + registered->name + "\" on port " +
                                    std::to_string(port));
        } else if (const auto* unavailable = std::get_if<DnsSd::Unavailable>(&event)) {
          logger_.log(category, "Not advertised (" + unavailable->reason +
                                    "); still accepting connections on port " +
                                    std::to_string(port));
        } else if (const auto* failed = std::get_if<DnsSd::Failed>(&event)) {
          logger_.log(category, "Advertising failed: " + failed->reason);
        }
      });
}

void LANListener::stop() {
  if (!acceptors_) return;
  advertisement_.reset();
  acceptors_.reset();
  states_.second.yield(Idle{});
}

}  // namespace glidemate
