// glidemate-host: lets a paired phone drive this computer. Headless: status
// lines on stdout, control commands on stdin.
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

constexpr std::string_view usage =
    "usage: glidemate-host [options]\n"
    "\n"
    "Lets a paired phone act as a trackpad, keyboard and remote for this computer.\n"
    "\n"
    "options:\n"
    "  --help       show this text and exit\n"
    "  --version    show the version and exit\n";

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(usage.data(), stdout);
      return 0;
    }
    if (arg == "--version") {
      std::printf("glidemate-host %s\n", GLIDEMATE_VERSION);
      return 0;
    }
    std::fprintf(stderr, "glidemate-host: unknown option '%s'\n\n%s", argv[i], usage.data());
    return 2;
  }
  // The server comes with the host server work; until then say what we are.
  std::printf("glidemate-host %s\n\n%s", GLIDEMATE_VERSION, usage.data());
  return 0;
}
