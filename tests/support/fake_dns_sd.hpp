// Test helper: a DNS-SD that keeps what it is asked to do, so tests can look
// at it and answer in the implementation's place (call the handlers).
#pragma once

#include <memory>
#include <vector>

#include "kit/transport/dns_sd.hpp"

namespace glidemate::testing {

class FakeDnsSd final : public DnsSd {
 public:
  struct Advertisement {
    std::string name;
    std::string type;
    std::uint16_t port;
    TxtRecord txt;
    AdvertisementHandler onEvent;
    bool withdrawn = false;
  };
  struct Browse {
    std::string type;
    BrowseHandler onResults;
    BrowseFailureHandler onFailure;
    bool stopped = false;
  };
  struct Resolve {
    DnsSdService service;
    ResolveHandler onResolved;
  };

  std::vector<std::shared_ptr<Advertisement>> advertisements;
  std::vector<std::shared_ptr<Browse>> browses;
  std::vector<std::shared_ptr<Resolve>> resolves;

  std::unique_ptr<Handle> advertise(const std::string& name, const std::string& type,
                                    std::uint16_t port, const TxtRecord& txt,
                                    AdvertisementHandler onEvent) override {
    auto a = std::make_shared<Advertisement>(Advertisement{name, type, port, txt, std::move(onEvent)});
    advertisements.push_back(a);
    return std::make_unique<Marker>([a] { a->withdrawn = true; });
  }
  std::unique_ptr<Handle> browse(const std::string& type, BrowseHandler onResults,
                                 BrowseFailureHandler onFailure) override {
    auto b = std::make_shared<Browse>(Browse{type, std::move(onResults), std::move(onFailure)});
    browses.push_back(b);
    return std::make_unique<Marker>([b] { b->stopped = true; });
  }
  std::unique_ptr<Handle> resolve(const DnsSdService& service, ResolveHandler onResolved) override {
    resolves.push_back(std::make_shared<Resolve>(Resolve{service, std::move(onResolved)}));
    return std::make_unique<Marker>([] {});
  }

 private:
  class Marker final : public Handle {
   public:
    explicit Marker(std::function<void()> onEnd) : onEnd_(std::move(onEnd)) {}
    ~Marker() override { onEnd_(); }

   private:
    std::function<void()> onEnd_;
  };
};

}  // namespace glidemate::testing
