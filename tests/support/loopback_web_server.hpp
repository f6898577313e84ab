// Test helper: a web server on 127.0.0.1, over https with a certificate made
// for the test and over plain http, serving the files of a temporary folder.
// Besides the files it answers:
//   /redirect?to=URL   302 to URL
//   /endless           200 with zeros that never end, and no length
//   /silent            nothing at all: the request is never answered
// Stopped, and its folder removed, when its owner goes away.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "kit/wire/bytes.hpp"
#include "tests/support/child_process.hpp"
#include "tests/support/temp_dir.hpp"

namespace glidemate::testing {

class LoopbackWebServer {
 public:
  // Blocks until both ports listen; throws if the server can't start.
  LoopbackWebServer();
  LoopbackWebServer(const LoopbackWebServer&) = delete;
  LoopbackWebServer& operator=(const LoopbackWebServer&) = delete;

  // `path` begins with '/'.
  std::string httpsUrl(const std::string& path) const;
  std::string httpUrl(const std::string& path) const;
  // The server's certificate (PEM), for a client to trust.
  std::string certificate() const { return folder_ / "cert.pem"; }
  // Serves `data` as /name.
  void put(const std::string& name, ByteView data) const;
  // Where served files live, for a test that makes them itself.
  std::filesystem::path files() const { return folder_.path() / "files"; }

 private:
  TempDir folder_;
  std::unique_ptr<ChildProcess> server_;
  int httpsPort_ = 0;
  int httpPort_ = 0;
};

}  // namespace glidemate::testing
