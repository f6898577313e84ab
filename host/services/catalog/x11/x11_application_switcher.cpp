#include "host/services/catalog/x11/x11_application_switcher.hpp"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

#include "host/services/catalog/x11/window_application_match.hpp"
#include "host/x11/ewmh.hpp"
#include "host/x11/x11_error_trap.hpp"

namespace glidemate::host {
namespace {

constexpr std::size_t maxTextBytes = 1024;
constexpr std::size_t maxAtoms = 32;

std::string localHostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

}  // namespace

X11ApplicationSwitcher::X11ApplicationSwitcher(std::shared_ptr<X11DesktopConnection> connection)
    : connection_(std::move(connection)) {}

std::string X11ApplicationSwitcher::textProperty(Window window, const char* name) {
  const auto value = connection_->readProperty(window, connection_->atom(name), maxTextBytes);
  if (!value || value->format != 8 || value->truncated) return {};
  return value->bytes.substr(0, value->bytes.find('\0'));
}

bool X11ApplicationSwitcher::isOurs(Window window) {
  const auto pid = connection_->readProperty(window, connection_->atom("_NET_WM_PID"), 4);
  if (!pid || pid->format != 32 || pid->numbers.empty() || pid->numbers.front() != static_cast<unsigned long>(::getpid())) {
    return false;
  }
  // A process id means something only on the machine that set it.
  const auto machine = connection_->readProperty(window, XA_WM_CLIENT_MACHINE, maxTextBytes);
  return !machine || machine->format != 8 || machine->bytes.substr(0, machine->bytes.find('\0')) == localHostName();
}

bool X11ApplicationSwitcher::isOrdinary(Window window) {
  const auto types =
      connection_->readProperty(window, connection_->atom("_NET_WM_WINDOW_TYPE"), maxAtoms * 4);
  if (!types || types->format != 32 || types->numbers.empty()) return true;
  const Atom normal = connection_->atom("_NET_WM_WINDOW_TYPE_NORMAL");
  const Atom dialog = connection_->atom("_NET_WM_WINDOW_TYPE_DIALOG");
  return std::any_of(types->numbers.begin(), types->numbers.end(),
                     [&](unsigned long type) { return type == normal || type == dialog; });
}

bool X11ApplicationSwitcher::takesDeleteRequests(Window window) {
  const auto protocols = connection_->readProperty(window, connection_->atom("WM_PROTOCOLS"), maxAtoms * 4);
  if (!protocols || protocols->format != 32) return false;
  const Atom deleteWindow = connection_->atom("WM_DELETE_WINDOW");
  return std::find(protocols->numbers.begin(), protocols->numbers.end(), deleteWindow) != protocols->numbers.end();
}

std::vector<RunningApplication> X11ApplicationSwitcher::list(const std::vector<InstalledApplication>& installed) {
  Ewmh ewmh(*connection_);
  std::vector<RunningApplication> running;
  for (const Window window : ewmh.clientList()) {
    if (isOurs(window)) continue;
    WindowIdentity identity;
    identity.gtkApplicationId = textProperty(window, "_GTK_APPLICATION_ID");
    identity.kdeDesktopFile = textProperty(window, "_KDE_NET_WM_DESKTOP_FILE");
    if (const auto windowClass = ewmh.windowClass(window)) {
      identity.classInstance = windowClass->instance;
      identity.className = windowClass->name;
    }
    const auto id = applicationOfWindow(identity, installed);
    if (!id) continue;
    auto it = std::find_if(running.begin(), running.end(), [&](const auto& a) { return a.bundleId == *id; });
    if (it == running.end()) it = running.insert(running.end(), RunningApplication{*id, false, {}});
    it->handles.push_back(window);
    it->isRegular = it->isRegular || isOrdinary(window);
  }
  return running;
}

bool X11ApplicationSwitcher::activate(const RunningApplication& application) {
  if (application.handles.empty()) return false;
  Ewmh ewmh(*connection_);
  if (!ewmh.hasWindowManager()) return false;
  // Source 2: a pager or taskbar acting for the user, which window managers
  // obey (an application's own request may be held back).
  const auto window = static_cast<Window>(application.handles.back());
  X11ErrorTrap trap(connection_->display());
  ewmh.sendToRoot(window, connection_->atom("_NET_ACTIVE_WINDOW"), {2, CurrentTime, 0, 0, 0});
  return !trap.failed();
}

void X11ApplicationSwitcher::hide(const RunningApplication& application) {
  Ewmh ewmh(*connection_);
  X11ErrorTrap trap(connection_->display());
  for (const auto handle : application.handles) {
    ewmh.sendToRoot(static_cast<Window>(handle), connection_->atom("WM_CHANGE_STATE"), {IconicState, 0, 0, 0, 0});
  }
  trap.failed();
}

void X11ApplicationSwitcher::terminate(const RunningApplication& application) {
  Ewmh ewmh(*connection_);
  X11ErrorTrap trap(connection_->display());
  for (const auto handle : application.handles) {
    const auto window = static_cast<Window>(handle);
    if (!takesDeleteRequests(window)) continue;
    ewmh.sendToRoot(window, connection_->atom("_NET_CLOSE_WINDOW"), {CurrentTime, 2, 0, 0, 0});
  }
  trap.failed();
}

}  // namespace glidemate::host
