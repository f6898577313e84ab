#include "host/x11/ewmh.hpp"

#include <X11/Xatom.h>

#include <algorithm>

#include "host/x11/x11_text.hpp"
#include "kit/wire/utf8.hpp"

namespace glidemate::host {
namespace {

constexpr std::size_t maxClassBytes = 1024;
constexpr std::size_t maxStateAtoms = 64;

}  // namespace

std::optional<Window> Ewmh::windowProperty(Window window, Atom property) {
  const auto value = connection_.readProperty(window, property, 4);
  if (!value || value->format != 32 || value->numbers.empty() || value->numbers.front() == 0) return std::nullopt;
  return static_cast<Window>(value->numbers.front());
}

bool Ewmh::hasWindowManager() {
  const Atom check = connection_.atom("_NET_SUPPORTING_WM_CHECK");
  const auto named = windowProperty(connection_.root(), check);
  // A window manager that died leaves the root's property behind, naming a
  // window that is gone.
  return named && windowProperty(*named, check) == named;
}

std::optional<Window> Ewmh::activeWindow() {
  if (!hasWindowManager()) return std::nullopt;
  return windowProperty(connection_.root(), connection_.atom("_NET_ACTIVE_WINDOW"));
}

std::vector<Window> Ewmh::clientList() {
  if (!hasWindowManager()) return {};
  const auto value = connection_.readProperty(connection_.root(), connection_.atom("_NET_CLIENT_LIST"), maxClients * 4);
  if (!value || value->format != 32) return {};
  return {value->numbers.begin(), value->numbers.end()};
}

std::optional<Ewmh::WindowClass> Ewmh::windowClass(Window window) {
  const auto value = connection_.readProperty(window, XA_WM_CLASS, maxClassBytes);
  if (!value || value->format != 8) return std::nullopt;
  // Two strings, each ended by a NUL: the instance, then the class.
  const std::string_view bytes = value->bytes;
  const auto end = bytes.find('\0');
  const std::string_view instance = bytes.substr(0, end);
  std::string_view name;
  if (end != std::string_view::npos) name = bytes.substr(end + 1, bytes.find('\0', end + 1) - end - 1);
  return WindowClass{latin1ToUtf8(instance), latin1ToUtf8(name)};
}

std::optional<std::string> Ewmh::title(Window window) {
  // Three bytes more than kept, so that a character cut by the read is cut
  // again by the prefix rather than turned into U+FFFD.
  const std::size_t readBytes = maxTitleBytes + 3;
  const Atom utf8 = connection_.atom("UTF8_STRING");
  auto value = connection_.readProperty(window, connection_.atom("_NET_WM_NAME"), readBytes);
  if (!value || value->format != 8 || value->type != utf8) {
    value = connection_.readProperty(window, XA_WM_NAME, readBytes);
  }
  if (!value || value->format != 8) return std::nullopt;
  // STRING is Latin-1; COMPOUND_TEXT is too, but for its escapes to other
  // character sets, which no current client uses for titles.
  const std::string text = value->type == utf8 ? validUtf8(value->bytes) : latin1ToUtf8(value->bytes);
  return std::string(utf8Prefix(text, maxTitleBytes));
}

std::vector<Atom> Ewmh::state(Window window) {
  const auto value = connection_.readProperty(window, connection_.atom("_NET_WM_STATE"), maxStateAtoms * 4);
  if (!value || value->format != 32) return {};
  return {value->numbers.begin(), value->numbers.end()};
}

bool Ewmh::isFullScreen(Window window) {
  const auto atoms = state(window);
  return std::find(atoms.begin(), atoms.end(), connection_.atom("_NET_WM_STATE_FULLSCREEN")) != atoms.end();
}

void Ewmh::sendToRoot(Window window, Atom type, const std::array<long, 5>& data) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = type;
  event.xclient.format = 32;
  std::copy(data.begin(), data.end(), event.xclient.data.l);
  XSendEvent(connection_.display(), connection_.root(), False, SubstructureRedirectMask | SubstructureNotifyMask,
             &event);
  connection_.flush();
}

}  // namespace glidemate::host
