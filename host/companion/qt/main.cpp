// glidemate-companion: the desktop app. Lives in the system tray, owns the
// host for its whole life, and shows pairing codes, phones and settings.
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "host/app/instance_lock.hpp"
#include "host/companion/autostart_template.hpp"
#include "host/companion/companion_options.hpp"
#include "host/companion/login_item_service.hpp"
#include "host/companion/qt/companion_app.hpp"

// After Qt: Xlib's macros would clash with Qt's headers.
#include <X11/Xlib.h>

namespace {

using namespace glidemate::host;

int signalPipe[2] = {-1, -1};

void onSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const auto ignored = ::write(signalPipe[1], &byte, 1);
}

// Qt gives up with a bare abort when its display can't be opened; say what
// is missing first, and what to do instead.
bool haveDisplay() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform != nullptr && platform[0] != '\0' && std::string(platform).rfind("xcb", 0) != 0) return true;
  if (Display* display = XOpenDisplay(nullptr)) {
    XCloseDisplay(display);
    return true;
  }
  const char* name = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  std::string why;
  if (name != nullptr && name[0] != '\0') {
    why = std::string("cannot open the X display ") + name;
  } else if (wayland != nullptr && wayland[0] != '\0') {
    why = "this is a Wayland session without X (DISPLAY is not set), and Glidemate Companion shows its windows "
          "through X";
  } else {
    why = "there is no display (DISPLAY is not set)";
  }
  std::fprintf(stderr,
               "glidemate-companion: %s. Start it inside your desktop session, or run glidemate-host to serve "
               "phones without a window.\n",
               why.c_str());
  return false;
}

std::filesystem::path thisProgram() {
  std::error_code error;
  auto path = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::path("glidemate-companion") : path;
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  CompanionOptions options;
  try {
    options = CompanionOptions::parse(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::invalid_argument& e) {
    std::fprintf(stderr, "glidemate-companion: %s\n\n%s", e.what(), CompanionOptions::usage());
    return 2;
  }
  if (options.help) {
    std::fputs(CompanionOptions::usage(), stdout);
    return 0;
  }
  if (options.version) {
    std::printf("glidemate-companion %s\n", GLIDEMATE_VERSION);
    return 0;
  }
  if (!haveDisplay()) return 1;

  const HostFolders folders = HostFolders::resolve(options.dataDir);
  std::optional<InstanceLock> lock;
  try {
    auto instance = InstanceLock::acquire(folders, "glidemate-companion");
    if (!instance.lock) {
      std::fprintf(stderr, "glidemate-companion: %s.\n", InstanceLock::alreadyRunning(instance.holder).c_str());
      return 1;
    }
    lock.emplace(std::move(*instance.lock));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "glidemate-companion: %s\n", e.what());
    return 1;
  }

  // Qt's own arguments are not taken: the platform comes from the
  // environment (QT_QPA_PLATFORM), like everything else Qt reads.
  int qtArgc = 1;
  QApplication application(qtArgc, argv);
  QApplication::setApplicationName("Glidemate Companion");
  QApplication::setApplicationVersion(GLIDEMATE_VERSION);
  QApplication::setDesktopFileName("glidemate-companion");
  // A tray app: closing its last window does not end it.
  QApplication::setQuitOnLastWindowClosed(false);

  // SIGINT and SIGTERM end the app as Quit does.
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return 1;
  QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
  QObject::connect(&signalNotifier, &QSocketNotifier::activated, &application, [] { QApplication::quit(); });
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);

  CompanionApp app(HostRuntime::Options{
      .name = options.name,
      .port = options.port,
      .advertise = options.advertise,
      .folders = folders,
      .autostartFolder = LoginItemService::defaultFolder(),
      .autostartEntry = LoginItemService::entryFor(autostartTemplate, thisProgram()),
  });
  QObject::connect(&app, &CompanionApp::quitRequested, &application, &QApplication::quit);
  if (!app.start()) return 1;
  return QApplication::exec();
}
