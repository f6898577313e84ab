#pragma once

#include <asio/any_io_executor.hpp>
#include <memory>

#include "kit/transport/dns_sd.hpp"

namespace glidemate {

// DNS-SD through the Avahi daemon (over D-Bus). Avahi calls back on a thread
// of its own; results are posted to `executor`. A missing daemon is not an
// error: advertisements report Unavailable and come back by themselves when
// the daemon (re)appears, browsers report a failure and browse again then.
class AvahiDnsSd final : public DnsSd {
 public:
  explicit AvahiDnsSd(asio::any_io_executor executor);
  ~AvahiDnsSd() override;
  AvahiDnsSd(const AvahiDnsSd&) = delete;
  AvahiDnsSd& operator=(const AvahiDnsSd&) = delete;

  std::unique_ptr<Handle> advertise(const std::string& name, const std::string& type,
                                    std::uint16_t port, const TxtRecord& txt,
                                    AdvertisementHandler onEvent) override;
  std::unique_ptr<Handle> browse(const std::string& type, BrowseHandler onResults,
                                 BrowseFailureHandler onFailure) override;
  std::unique_ptr<Handle> resolve(const DnsSdService& service, ResolveHandler onResolved) override;

  struct Impl;

 private:
  std::shared_ptr<Impl> impl_;
};

}  // namespace glidemate
