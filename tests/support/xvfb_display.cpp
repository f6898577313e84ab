#include "tests/support/xvfb_display.hpp"

#include <stdexcept>

namespace glidemate::host::testing {

XvfbDisplay::XvfbDisplay(const Options& options) {
  // -displayfd: Xvfb finds a free display number and writes it to our pipe
  // once it is ready for clients, so there is nothing to wait for but that.
  std::vector<std::string> argv{"Xvfb", "-displayfd", "1", "-screen", "0",
                                std::to_string(width) + "x" + std::to_string(height) + "x24", "-nolisten", "tcp",
                                "-noreset"};
  if (options.screenFile) {
    dir_ = std::make_unique<glidemate::testing::TempDir>();
    argv.insert(argv.end(), {"-fbdir", dir_->path().string()});
    screenFile_ = *dir_ / "Xvfb_screen0";
  }
  server_ = std::make_unique<glidemate::testing::ChildProcess>(argv, std::vector<std::string>{}, true);
  const std::string number = server_->readLine();
  if (number.empty()) throw std::runtime_error("Xvfb did not start");
  name_ = ":" + number;
}

}  // namespace glidemate::host::testing
