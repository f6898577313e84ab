#include "host/portal/portal_request.hpp"

#include <sdbus-c++/Message.h>

namespace glidemate::host {

std::string portalObjectPath(const std::string& uniqueName, const std::string& kind, const std::string& token) {
  std::string sender = uniqueName.starts_with(':') ? uniqueName.substr(1) : uniqueName;
  for (char& c : sender) {
    if (c == '.') c = '_';
  }
  return "/org/freedesktop/portal/desktop/" + kind + "/" + sender + "/" + token;
}

PortalRequest::PortalRequest(DBusConnection& connection, std::string portalName, std::string path,
                             std::function<void()> answered)
    : connection_(connection), portalName_(std::move(portalName)), path_(std::move(path)),
      answered_(std::move(answered)) {
  listen(path_);
}

void PortalRequest::follow(const std::string& handle) {
  if (handle == path_) return;
  listen(handle);
}

void PortalRequest::listen(const std::string& path) {
  slots_.push_back(connection_.raw().addMatch(
      "type='signal',sender='" + portalName_ + "',path='" + path +
          "',interface='org.freedesktop.portal.Request',member='Response'",
      [this](sdbus::Message& message) {
        if (response_) return;
        PortalResponse response;
        try {
          message >> response.code >> response.results;
        } catch (const sdbus::Error&) {
          response = PortalResponse{};
        }
        response_ = std::move(response);
        // Nothing more is expected on this request.
        if (answered_) answered_();
      }));
}

}  // namespace glidemate::host
