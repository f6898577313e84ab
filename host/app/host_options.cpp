#include "host/app/host_options.hpp"

#include <cstdlib>
#include <stdexcept>

namespace glidemate::host {
namespace {

std::filesystem::path xdgFolder(const char* variable, const char* fallbackUnderHome) {
  if (const char* value = std::getenv(variable); value != nullptr && value[0] == '/') return value;
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home != nullptr && home[0] != '\0' ? home : "/tmp") / fallbackUnderHome;
}

}  // namespace

const char* HostOptions::usage() {
  return "usage: glidemate-host [options]\n"
         "\n"
         "Lets a paired phone act as a trackpad, keyboard and remote for this computer.\n"
         "Status lines go to stdout; commands are read from stdin, one per line:\n"
         "  pause | resume | disconnect ID | allow ID | forget ID | decline |\n"
         "  allow-pairing | peers | paired | three-finger-drag on|off |\n"
         "  ask-input (ask the desktop again to allow remote control) | quit\n"
         "Shortcuts are the executable files in $XDG_CONFIG_HOME/glidemate/shortcuts.\n"
         "\n"
         "options:\n"
         "  --name NAME      the name phones show for this computer (default: the host name)\n"
         "  --port N         TCP port to listen on (default 0: the system chooses)\n"
         "  --no-advertise   do not advertise over DNS-SD (phones connect by address)\n"
         "  --data-dir DIR   keep paired phones, settings and shortcuts under DIR\n"
         "                   (default: $XDG_DATA_HOME/glidemate and $XDG_CONFIG_HOME/glidemate)\n"
         "  --json           one JSON object per status line\n"
         "  --input MODE     where phones' input goes: x11 (the display in $DISPLAY),\n"
         "                   gnome (GNOME's remote desktop on a Wayland session),\n"
         "                   wlroots (virtual pointer and keyboard of sway and\n"
         "                   other wlroots compositors),\n"
         "                   portal (the desktop portal's remote desktop, on other\n"
         "                   Wayland desktops such as KDE Plasma; the desktop asks\n"
         "                   the user to allow remote control once per start),\n"
         "                   log (one line per event on stderr) or none\n"
         "                   (default: chosen from the session: gnome on a GNOME\n"
         "                   Wayland session, wlroots where the compositor offers\n"
         "                   it, portal on another Wayland session whose portal\n"
         "                   offers it, x11 when a display opens, else none)\n"
         "  --help           show this text and exit\n"
         "  --version        show the version and exit\n";
}

std::uint16_t HostOptions::parsePort(const std::string& text) {
  std::size_t used = 0;
  unsigned long port = 0;
  try {
    port = std::stoul(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used != text.size() || text.empty() || port > 65535) {
    throw std::invalid_argument("--port needs a number from 0 to 65535, not '" + text + "'");
  }
  return static_cast<std::uint16_t>(port);
}

HostOptions HostOptions::parse(const std::vector<std::string>& args) {
  HostOptions options;
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
    } else if (arg == "--json") {
      options.json = true;
    } else if (arg == "--no-advertise") {
      options.advertise = false;
    } else if (arg == "--name") {
      options.name = value();
      if (options.name.empty()) throw std::invalid_argument("--name must not be empty");
    } else if (arg == "--port") {
      options.port = parsePort(value());
    } else if (arg == "--input") {
      const std::string& mode = value();
      if (mode == "x11") {
        options.input = Input::x11;
      } else if (mode == "gnome") {
        options.input = Input::gnome;
      } else if (mode == "wlroots") {
        options.input = Input::wlroots;
      } else if (mode == "portal") {
        options.input = Input::portal;
      } else if (mode == "log") {
        options.input = Input::log;
      } else if (mode == "none") {
        options.input = Input::none;
      } else {
        throw std::invalid_argument("--input is x11, gnome, wlroots, portal, log or none, not '" + mode + "'");
      }
    } else if (arg == "--data-dir") {
      options.dataDir = value();
    } else {
      throw std::invalid_argument("unknown option '" + arg + "'");
    }
  }
  return options;
}

HostFolders HostFolders::resolve(const std::optional<std::filesystem::path>& dataDir) {
  if (dataDir) return {*dataDir / "keys", *dataDir / "settings.json", *dataDir / "shortcuts"};
  const auto config = xdgFolder("XDG_CONFIG_HOME", ".config") / "glidemate";
  return {xdgFolder("XDG_DATA_HOME", ".local/share") / "glidemate" / "keys", config / "settings.json",
          config / "shortcuts"};
}

}  // namespace glidemate::host
