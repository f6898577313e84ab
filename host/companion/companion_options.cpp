#include "host/companion/companion_options.hpp"

#include <stdexcept>

#include "host/app/host_options.hpp"

namespace glidemate::host {

const char* CompanionOptions::usage() {
  return "usage: glidemate-companion [options]\n"
         "\n"
         "Lets a paired iPhone act as a trackpad, keyboard and remote for this computer.\n"
         "Lives in the system tray: click its icon to pair and see connected iPhones.\n"
         "\n"
         "options:\n"
         "  --name NAME      the name iPhones show for this computer (default: the host name)\n"
         "  --port N         TCP port to listen on (default 0: the system chooses)\n"
         "  --no-advertise   do not advertise over DNS-SD (phones connect by address)\n"
         "  --data-dir DIR   keep paired phones and settings under DIR\n"
         "                   (default: $XDG_DATA_HOME/glidemate and $XDG_CONFIG_HOME/glidemate)\n"
         "  --help           show this text and exit\n"
         "  --version        show the version and exit\n"
         "\n"
         "Without a display, run glidemate-host instead.\n";
}

CompanionOptions CompanionOptions::parse(const std::vector<std::string>& args) {
  CompanionOptions options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw std::invalid_argument(arg + " needs a value");
      return args[++i];
    };
    if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--version") {
      options.version = true;
    } else if (arg == "--no-advertise") {
      options.advertise = false;
    } else if (arg == "--name") {
      options.name = value();
      if (options.name.empty()) throw std::invalid_argument("--name must not be empty");
    } else if (arg == "--port") {
      options.port = HostOptions::parsePort(value());
    } else if (arg == "--data-dir") {
      options.dataDir = value();
    } else {
      throw std::invalid_argument("unknown option '" + arg + "'");
    }
  }
  return options;
}

}  // namespace glidemate::host
