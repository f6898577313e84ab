#include "kit/transport/avahi/avahi_dns_sd.hpp"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>
#include <avahi-common/thread-watch.h>
#include <avahi-common/timeval.h>

#include <algorithm>
#include <asio/post.hpp>
#include <list>
#include <map>
#include <stdexcept>
#include <tuple>

namespace glidemate {
namespace {

// How long to wait before making a new client after the old one failed.
constexpr int reconnectDelaySeconds = 1;

std::string errorText(int code) { return avahi_strerror(code); }

AvahiStringList* toStringList(const TxtRecord& txt) {
  AvahiStringList* list = nullptr;
  // avahi_string_list_add_pair prepends; add in reverse to keep our order.
  for (auto it = txt.rbegin(); it != txt.rend(); ++it) {
    list = avahi_string_list_add_pair(list, it->first.c_str(), it->second.c_str());
  }
  return list;
}

TxtRecord fromStringList(AvahiStringList* list) {
  TxtRecord txt;
  for (AvahiStringList* l = list; l != nullptr; l = avahi_string_list_get_next(l)) {
    char* key = nullptr;
    char* value = nullptr;
    std::size_t size = 0;
    if (avahi_string_list_get_pair(l, &key, &value, &size) != 0) continue;
    txt.emplace_back(key, value != nullptr ? std::string(value, size) : std::string());
    avahi_free(key);
    avahi_free(value);
  }
  // Avahi keeps the strings last-first.
  std::reverse(txt.begin(), txt.end());
  return txt;
}

std::string addressText(const AvahiAddress& address, AvahiIfIndex interface) {
  char text[AVAHI_ADDRESS_STR_MAX];
  avahi_address_snprint(text, sizeof text, &address);
  std::string host = text;
  // A link-local IPv6 address is only reachable through the interface it was
  // seen on.
  if (address.proto == AVAHI_PROTO_INET6 && address.data.ipv6.address[0] == 0xFE &&
      (address.data.ipv6.address[1] & 0xC0) == 0x80) {
    host += "%" + std::to_string(interface);
  }
  return host;
}

}  // namespace

// Everything below is touched on Avahi's thread or, by the executor, with
// Avahi's lock held.
struct AvahiDnsSd::Impl : std::enable_shared_from_this<AvahiDnsSd::Impl> {
  struct Advertisement {
    Impl* owner;
    std::string name;
    std::string type;
    std::uint16_t port;
    TxtRecord txt;
    AvahiEntryGroup* group = nullptr;
    std::shared_ptr<AdvertisementHandler> handler;
  };

  struct Browse;

  struct Found {
    Impl* owner;
    Browse* browse;
    AvahiIfIndex interface;
    AvahiProtocol protocol;
    DnsSdService service;
    AvahiServiceResolver* resolver = nullptr;
    std::optional<TxtRecord> txt;
  };

  struct Browse {
    Impl* owner;
    std::string type;
    AvahiServiceBrowser* browser = nullptr;
    std::list<Found> found;
    std::shared_ptr<BrowseHandler> onResults;
    std::shared_ptr<BrowseFailureHandler> onFailure;
  };

  struct Resolve {
    Impl* owner;
    DnsSdService service;
    AvahiServiceResolver* resolver = nullptr;
    std::shared_ptr<ResolveHandler> handler;
  };

  asio::any_io_executor executor;
  AvahiThreadedPoll* poll = nullptr;
  AvahiClient* client = nullptr;
  AvahiTimeout* reconnect = nullptr;
  bool running = false;
  std::list<Advertisement> advertisements;
  std::list<Browse> browses;
  std::list<Resolve> resolves;

  template <class Handler, class Value>
  void deliver(const std::shared_ptr<Handler>& handler, Value value) {
    asio::post(executor, [weak = std::weak_ptr<Handler>(handler), value = std::move(value)] {
      if (auto h = weak.lock()) (*h)(value);
    });
  }

  // --- client ---

  void makeClient() {
    int error = 0;
    client = avahi_client_new(avahi_threaded_poll_get(poll), AVAHI_CLIENT_NO_FAIL, &Impl::onClient,
                              this, &error);
    if (client == nullptr) {
      // Only out-of-memory and similar make even a waiting client impossible.
      scheduleReconnect();
    }
  }

  static void onClient(AvahiClient* c, AvahiClientState state, void* userdata) {
    auto* self = static_cast<Impl*>(userdata);
    self->client = c;  // also set while avahi_client_new has not returned yet
    switch (state) {
      case AVAHI_CLIENT_S_RUNNING:
        self->running = true;
        self->startAll();
        break;
      case AVAHI_CLIENT_S_COLLISION:
      case AVAHI_CLIENT_S_REGISTERING:
        // The daemon is renaming the machine; services are announced again
        // once it runs.
        self->running = false;
        self->dropGroups();
        break;
      case AVAHI_CLIENT_CONNECTING:
        self->running = false;
        self->stopAll("the DNS-SD daemon is not available");
        break;
      case AVAHI_CLIENT_FAILURE:
        self->running = false;
        self->stopAll("the DNS-SD daemon failed: " + errorText(avahi_client_errno(c)));
        self->scheduleReconnect();
        break;
    }
  }

  void scheduleReconnect() {
    if (reconnect != nullptr) return;
    timeval when{};
    avahi_elapse_time(&when, reconnectDelaySeconds * 1000, 0);
    const AvahiPoll* api = avahi_threaded_poll_get(poll);
    reconnect = api->timeout_new(api, &when, &Impl::onReconnect, this);
  }

  static void onReconnect(AvahiTimeout* timeout, void* userdata) {
    auto* self = static_cast<Impl*>(userdata);
    const AvahiPoll* api = avahi_threaded_poll_get(self->poll);
    api->timeout_free(timeout);
    self->reconnect = nullptr;
    if (self->client != nullptr) avahi_client_free(self->client);
    self->client = nullptr;
    self->makeClient();
  }

  void startAll() {
    for (auto& a : advertisements) {
      if (a.group == nullptr) publish(a);
    }
    for (auto& b : browses) {
      if (b.browser == nullptr) startBrowse(b);
    }
    for (auto& r : resolves) {
      if (r.resolver == nullptr) startResolve(r);
    }
  }

  void dropGroups() {
    for (auto& a : advertisements) {
      if (a.group != nullptr) avahi_entry_group_free(a.group);
      a.group = nullptr;
    }
  }

  void stopAll(const std::string& reason) {
    dropGroups();
    for (auto& a : advertisements) deliver(a.handler, AdvertisementEvent{Unavailable{reason}});
    for (auto& b : browses) {
      stopBrowse(b);
      deliver(b.onFailure, reason);
    }
    for (auto& r : resolves) {
      if (r.resolver != nullptr) avahi_service_resolver_free(r.resolver);
      r.resolver = nullptr;
    }
  }

  // --- advertising ---

  void publish(Advertisement& a) {
    a.group = avahi_entry_group_new(client, &Impl::onGroup, &a);
    if (a.group == nullptr) {
      deliver(a.handler, AdvertisementEvent{Failed{errorText(avahi_client_errno(client))}});
      return;
    }
    addService(a);
  }

  void addService(Advertisement& a) {
    for (;;) {
      AvahiStringList* txt = toStringList(a.txt);
      const int result = avahi_entry_group_add_service_strlst(
          a.group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, static_cast<AvahiPublishFlags>(0),
          a.name.c_str(), a.type.c_str(), nullptr, nullptr, a.port, txt);
      avahi_string_list_free(txt);
      if (result == AVAHI_ERR_COLLISION) {
        takeAlternativeName(a);
        continue;
      }
      const int committed = result < 0 ? result : avahi_entry_group_commit(a.group);
      if (committed < 0) deliver(a.handler, AdvertisementEvent{Failed{errorText(committed)}});
      return;
    }
  }

  static void takeAlternativeName(Advertisement& a) {
    char* alternative = avahi_alternative_service_name(a.name.c_str());
    a.name = alternative;
    avahi_free(alternative);
  }

  static void onGroup(AvahiEntryGroup* group, AvahiEntryGroupState state, void* userdata) {
    auto& a = *static_cast<Advertisement*>(userdata);
    Impl& self = *a.owner;
    switch (state) {
      case AVAHI_ENTRY_GROUP_ESTABLISHED:
        self.deliver(a.handler, AdvertisementEvent{Registered{a.name}});
        break;
      case AVAHI_ENTRY_GROUP_COLLISION:
        // Someone else on the network has our name: take the one Avahi
        // offers ("Name #2") and announce again.
        takeAlternativeName(a);
        avahi_entry_group_reset(group);
        self.addService(a);
        break;
      case AVAHI_ENTRY_GROUP_FAILURE:
        self.deliver(a.handler, AdvertisementEvent{Failed{errorText(
                                    avahi_client_errno(avahi_entry_group_get_client(group)))}});
        break;
      case AVAHI_ENTRY_GROUP_UNCOMMITED:
      case AVAHI_ENTRY_GROUP_REGISTERING:
        break;
    }
  }

  // --- browsing ---

  void startBrowse(Browse& b) {
    b.browser = avahi_service_browser_new(client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                          b.type.c_str(), nullptr, static_cast<AvahiLookupFlags>(0),
                                          &Impl::onBrowse, &b);
    if (b.browser == nullptr) deliver(b.onFailure, errorText(avahi_client_errno(client)));
  }

  static void stopBrowse(Browse& b) {
    for (auto& f : b.found) {
      if (f.resolver != nullptr) avahi_service_resolver_free(f.resolver);
    }
    b.found.clear();
    if (b.browser != nullptr) avahi_service_browser_free(b.browser);
    b.browser = nullptr;
  }

  void publishResults(Browse& b) {
    std::vector<DnsSdBrowseResult> results;
    for (const auto& f : b.found) {
      if (f.txt) results.push_back({f.service, f.interface, *f.txt});
    }
    deliver(b.onResults, std::move(results));
  }

  static void onBrowse(AvahiServiceBrowser* browser, AvahiIfIndex interface,
                       AvahiProtocol protocol, AvahiBrowserEvent event, const char* name,
                       const char* type, const char* domain, AvahiLookupResultFlags,
                       void* userdata) {
    auto& b = *static_cast<Browse*>(userdata);
    Impl& self = *b.owner;
    switch (event) {
      case AVAHI_BROWSER_NEW: {
        Found& f = b.found.emplace_back(
            Found{&self, &b, interface, protocol, DnsSdService{name, type, domain}, nullptr, std::nullopt});
        // Keep the resolver running: it reports TXT changes as they happen.
        f.resolver = avahi_service_resolver_new(
            avahi_service_browser_get_client(browser), interface, protocol, name, type, domain,
            AVAHI_PROTO_UNSPEC, static_cast<AvahiLookupFlags>(0), &Impl::onFoundResolved, &f);
        break;
      }
      case AVAHI_BROWSER_REMOVE: {
        const DnsSdService gone{name, type, domain};
        const auto before = b.found.size();
        b.found.remove_if([&](Found& f) {
          const bool match = f.interface == interface && f.protocol == protocol && f.service == gone;
          if (match && f.resolver != nullptr) avahi_service_resolver_free(f.resolver);
          return match;
        });
        if (b.found.size() != before) self.publishResults(b);
        break;
      }
      case AVAHI_BROWSER_FAILURE:
        stopBrowse(b);
        self.deliver(b.onFailure,
                     errorText(avahi_client_errno(avahi_service_browser_get_client(browser))));
        break;
      case AVAHI_BROWSER_ALL_FOR_NOW:
      case AVAHI_BROWSER_CACHE_EXHAUSTED:
        break;
    }
  }

  static void onFoundResolved(AvahiServiceResolver*, AvahiIfIndex, AvahiProtocol,
                              AvahiResolverEvent event, const char*, const char*, const char*,
                              const char*, const AvahiAddress*, uint16_t, AvahiStringList* txt,
                              AvahiLookupResultFlags, void* userdata) {
    auto& f = *static_cast<Found*>(userdata);
    if (event != AVAHI_RESOLVER_FOUND) return;  // not (yet) resolvable: not listed
    TxtRecord record = fromStringList(txt);
    if (f.txt == record) return;
    f.txt = std::move(record);
    f.owner->publishResults(*f.browse);
  }

  // --- resolving ---

  void startResolve(Resolve& r) {
    r.resolver = avahi_service_resolver_new(
        client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, r.service.name.c_str(), r.service.type.c_str(),
        r.service.domain.empty() ? nullptr : r.service.domain.c_str(), AVAHI_PROTO_UNSPEC,
        static_cast<AvahiLookupFlags>(0), &Impl::onResolved, &r);
    if (r.resolver == nullptr) {
      deliver(r.handler, std::variant<DnsSdAddress, std::string>(
                             errorText(avahi_client_errno(client))));
    }
  }

  static void onResolved(AvahiServiceResolver* resolver, AvahiIfIndex interface, AvahiProtocol,
                         AvahiResolverEvent event, const char*, const char*, const char*,
                         const char*, const AvahiAddress* address, uint16_t port,
                         AvahiStringList*, AvahiLookupResultFlags, void* userdata) {
    auto& r = *static_cast<Resolve*>(userdata);
    std::variant<DnsSdAddress, std::string> outcome;
    if (event == AVAHI_RESOLVER_FOUND && address != nullptr) {
      outcome = DnsSdAddress{addressText(*address, interface), port};
    } else {
      outcome = "could not resolve \"" + r.service.name + "\": " +
                errorText(avahi_client_errno(avahi_service_resolver_get_client(resolver)));
    }
    avahi_service_resolver_free(resolver);
    r.resolver = nullptr;
    r.owner->deliver(r.handler, std::move(outcome));
  }
};

namespace {

// Runs `f` with Avahi's lock held, so Avahi's thread is not inside a callback.
// Once the thread is gone (poll is null) there is nothing to lock against.
template <class F>
auto locked(AvahiThreadedPoll* poll, F&& f) {
  if (poll == nullptr) return f();
  avahi_threaded_poll_lock(poll);
  struct Unlock {
    AvahiThreadedPoll* p;
    ~Unlock() { avahi_threaded_poll_unlock(p); }
  } unlock{poll};
  return f();
}

template <class Entry>
class ListHandle final : public DnsSd::Handle {
 public:
  ListHandle(std::shared_ptr<AvahiDnsSd::Impl> impl, std::list<Entry>& list,
             typename std::list<Entry>::iterator entry, void (*release)(Entry&))
      : impl_(std::move(impl)), list_(list), entry_(entry), release_(release) {}
  ~ListHandle() override {
    locked(impl_->poll, [&] {
      release_(*entry_);
      list_.erase(entry_);
    });
  }

 private:
  std::shared_ptr<AvahiDnsSd::Impl> impl_;
  std::list<Entry>& list_;
  typename std::list<Entry>::iterator entry_;
  void (*release_)(Entry&);
};

}  // namespace

AvahiDnsSd::AvahiDnsSd(asio::any_io_executor executor) : impl_(std::make_shared<Impl>()) {
  impl_->executor = std::move(executor);
  impl_->poll = avahi_threaded_poll_new();
  if (impl_->poll == nullptr) throw std::runtime_error("could not start the DNS-SD event thread");
  impl_->makeClient();
  if (avahi_threaded_poll_start(impl_->poll) < 0) {
    if (impl_->client != nullptr) avahi_client_free(impl_->client);
    avahi_threaded_poll_free(impl_->poll);
    throw std::runtime_error("could not start the DNS-SD event thread");
  }
}

AvahiDnsSd::~AvahiDnsSd() {
  // Handles share the implementation, so one destroyed after this object
  // still finds its entry; Avahi's objects are all freed here.
  avahi_threaded_poll_stop(impl_->poll);
  if (impl_->reconnect != nullptr) {
    const AvahiPoll* api = avahi_threaded_poll_get(impl_->poll);
    api->timeout_free(impl_->reconnect);
  }
  impl_->dropGroups();
  for (auto& b : impl_->browses) Impl::stopBrowse(b);
  for (auto& r : impl_->resolves) {
    if (r.resolver != nullptr) avahi_service_resolver_free(r.resolver);
    r.resolver = nullptr;
  }
  if (impl_->client != nullptr) avahi_client_free(impl_->client);
  impl_->client = nullptr;
  avahi_threaded_poll_free(impl_->poll);
  impl_->poll = nullptr;
}

std::unique_ptr<DnsSd::Handle> AvahiDnsSd::advertise(const std::string& name,
                                                     const std::string& type, std::uint16_t port,
                                                     const TxtRecord& txt,
                                                     AdvertisementHandler onEvent) {
  return locked(impl_->poll, [&]() -> std::unique_ptr<Handle> {
    auto& list = impl_->advertisements;
    list.push_back(Impl::Advertisement{impl_.get(), name, type, port, txt, nullptr,
                                       std::make_shared<AdvertisementHandler>(std::move(onEvent))});
    auto entry = std::prev(list.end());
    if (impl_->running) {
      impl_->publish(*entry);
    } else {
      impl_->deliver(entry->handler,
                     AdvertisementEvent{Unavailable{"the DNS-SD daemon is not available"}});
    }
    return std::make_unique<ListHandle<Impl::Advertisement>>(
        impl_, list, entry, [](Impl::Advertisement& a) {
          if (a.group != nullptr) avahi_entry_group_free(a.group);
          a.group = nullptr;
        });
  });
}

std::unique_ptr<DnsSd::Handle> AvahiDnsSd::browse(const std::string& type, BrowseHandler onResults,
                                                  BrowseFailureHandler onFailure) {
  return locked(impl_->poll, [&]() -> std::unique_ptr<Handle> {
    auto& list = impl_->browses;
    list.push_back(Impl::Browse{impl_.get(), type, nullptr, {},
                                std::make_shared<BrowseHandler>(std::move(onResults)),
                                std::make_shared<BrowseFailureHandler>(std::move(onFailure))});
    auto entry = std::prev(list.end());
    if (impl_->running) {
      impl_->startBrowse(*entry);
    } else {
      impl_->deliver(entry->onFailure, std::string("the DNS-SD daemon is not available"));
    }
    return std::make_unique<ListHandle<Impl::Browse>>(impl_, list, entry, &Impl::stopBrowse);
  });
}

std::unique_ptr<DnsSd::Handle> AvahiDnsSd::resolve(const DnsSdService& service,
                                                   ResolveHandler onResolved) {
  return locked(impl_->poll, [&]() -> std::unique_ptr<Handle> {
    auto& list = impl_->resolves;
    list.push_back(Impl::Resolve{impl_.get(), service, nullptr,
                                 std::make_shared<ResolveHandler>(std::move(onResolved))});
    auto entry = std::prev(list.end());
    if (impl_->running) {
      impl_->startResolve(*entry);
    } else {
      impl_->deliver(entry->handler, std::variant<DnsSdAddress, std::string>(
                                         std::string("the DNS-SD daemon is not available")));
    }
    return std::make_unique<ListHandle<Impl::Resolve>>(impl_, list, entry, [](Impl::Resolve& r) {
      if (r.resolver != nullptr) avahi_service_resolver_free(r.resolver);
      r.resolver = nullptr;
    });
  });
}

}  // namespace glidemate
