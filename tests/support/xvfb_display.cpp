#include "tests/support/xvfb_display.hpp"

#include <signal.h>

#include <stdexcept>

namespace glidemate::host::testing {

XvfbDisplay::XvfbDisplay(int screenWidth, int screenHeight) {
  // -displayfd: Xvfb finds a free display number and writes it to our pipe
  // once it is ready for clients, so there is nothing to wait for but that.
  server_ = std::make_unique<glidemate::testing::ChildProcess>(
      std::vector<std::string>{"Xvfb", "-displayfd", "1", "-screen", "0",
                               std::to_string(screenWidth) + "x" + std::to_string(screenHeight) + "x24", "-nolisten", "tcp",
                               "-noreset"},
      std::vector<std::string>{}, true);
  const std::string number = server_->readLine();
  if (number.empty()) throw std::runtime_error("Xvfb did not start");
  name_ = ":" + number;
}

}  // namespace glidemate::host::testing

namespace glidemate::host::testing {

void XvfbDisplay::kill() {
  if (server_) ::kill(server_->pid(), SIGKILL);
  server_.reset();
}

}  // namespace glidemate::host::testing
