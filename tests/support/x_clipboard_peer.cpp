// x-clipboard-peer: another X client for the clipboard tests, which owns or
// reads the CLIPBOARD selection the way desktop programs do.
//
//   x-clipboard-peer own FILE [--chunk N] [--string-only] [--silent]
//     Owns CLIPBOARD with FILE's bytes (offered as UTF8_STRING and STRING),
//     prints "owned" once it does and "lost" when another client takes the
//     selection, then ends. --chunk N sends replies larger than N bytes in
//     pieces (INCR); --string-only offers STRING alone; --silent never
//     answers.
//   x-clipboard-peer read [TARGET] [--abandon]
//     Asks the owner for TARGET (UTF8_STRING by default), accepting INCR,
//     and writes what comes to stdout (for TARGETS, one name a line).
//     --abandon asks for the first piece of an INCR reply, then quits.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

Display* display;

Atom atom(const char* name) { return XInternAtom(display, name, False); }

XEvent nextEvent(Window window, int type) {
  for (;;) {
    XEvent event;
    XNextEvent(display, &event);
    if (event.type == type && event.xany.window == window) return event;
  }
}

int own(const std::string& path, std::size_t chunk, bool stringOnly, bool silent) {
  std::ifstream file(path, std::ios::binary);
  const std::string data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
  XSelectInput(display, window, PropertyChangeMask);
  XChangeProperty(display, window, atom("STAMP"), XA_INTEGER, 8, PropModeAppend, nullptr, 0);
  const Time since = nextEvent(window, PropertyNotify).xproperty.time;
  const Atom clipboard = atom("CLIPBOARD");
  XSetSelectionOwner(display, clipboard, window, since);
  if (XGetSelectionOwner(display, clipboard) != window) return 1;
  std::puts("owned");
  std::fflush(stdout);

  const Atom utf8 = atom("UTF8_STRING");
  const Atom targets = atom("TARGETS");
  const Atom incr = atom("INCR");
  // The one reply going in pieces, if any.
  Window requestor = 0;
  Atom property = 0;
  Atom type = 0;
  std::size_t offset = 0;
  for (;;) {
    XEvent event;
    XNextEvent(display, &event);
    if (event.type == SelectionClear) {
      std::puts("lost");
      return 0;
    }
    if (event.type == PropertyNotify && event.xproperty.window == requestor && event.xproperty.atom == property &&
        event.xproperty.state == PropertyDelete) {
      const std::size_t length = std::min(chunk, data.size() - offset);
      XChangeProperty(display, requestor, property, type, 8, PropModeAppend,
                      reinterpret_cast<const unsigned char*>(data.data() + offset), static_cast<int>(length));
      offset += length;
      if (length == 0) requestor = 0;
      XFlush(display);
      continue;
    }
    if (event.type != SelectionRequest || silent) continue;
    const XSelectionRequestEvent& request = event.xselectionrequest;
    XEvent reply{};
    reply.xselection.type = SelectionNotify;
    reply.xselection.requestor = request.requestor;
    reply.xselection.selection = request.selection;
    reply.xselection.target = request.target;
    reply.xselection.time = request.time;
    reply.xselection.property = request.property;
    if (request.target == targets) {
      const Atom offered[] = {targets, stringOnly ? XA_STRING : utf8, XA_STRING};
      XChangeProperty(display, request.requestor, request.property, XA_ATOM, 32, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(offered), 3);
    } else if ((request.target == utf8 && !stringOnly) || request.target == XA_STRING) {
      if (data.size() > chunk) {
        requestor = request.requestor;
        property = request.property;
        type = request.target;
        offset = 0;
        XSelectInput(display, requestor, PropertyChangeMask);
        const long size = static_cast<long>(data.size());
        XChangeProperty(display, requestor, property, incr, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&size), 1);
      } else {
        XChangeProperty(display, request.requestor, request.property, request.target, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(data.data()), static_cast<int>(data.size()));
      }
    } else {
      reply.xselection.property = None;
    }
    XSendEvent(display, request.requestor, False, NoEventMask, &reply);
    XFlush(display);
  }
}

std::string takeProperty(Window window, Atom property, Atom* type) {
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  XGetWindowProperty(display, window, property, 0, 1 << 24, True, AnyPropertyType, type, &format, &count, &after,
                     &data);
  std::string bytes;
  if (data != nullptr && format == 8) bytes.assign(reinterpret_cast<char*>(data), count);
  if (data != nullptr && *type == XA_ATOM) {
    for (unsigned long i = 0; i < count; ++i) {
      char* name = XGetAtomName(display, reinterpret_cast<Atom*>(data)[i]);
      bytes += std::string(name) + "\n";
      XFree(name);
    }
  }
  if (data != nullptr) XFree(data);
  return bytes;
}

int readSelection(const char* target, bool abandon) {
  const Atom clipboard = atom("CLIPBOARD");
  if (XGetSelectionOwner(display, clipboard) == None) {
    std::fputs("no owner\n", stderr);
    return 1;
  }
  const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
  XSelectInput(display, window, PropertyChangeMask);
  const Atom property = atom("PEER_CLIPBOARD");
  XConvertSelection(display, clipboard, atom(target), property, window, CurrentTime);
  const XEvent notice = nextEvent(window, SelectionNotify);
  if (notice.xselection.property == None) {
    std::fputs("refused\n", stderr);
    return 1;
  }
  Atom type = 0;
  std::string bytes = takeProperty(window, property, &type);
  if (type == atom("INCR")) {
    XFlush(display);
    if (abandon) return 0;
    bytes.clear();
    for (;;) {
      XEvent event = nextEvent(window, PropertyNotify);
      if (event.xproperty.atom != property || event.xproperty.state != PropertyNewValue) continue;
      const std::string piece = takeProperty(window, property, &type);
      if (piece.empty()) break;
      bytes += piece;
    }
  }
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // A peer left waiting by a broken test ends by itself.
  alarm(60);
  const std::vector<std::string> args(argv + 1, argv + argc);
  display = XOpenDisplay(nullptr);
  if (display == nullptr || args.empty()) return 2;
  const auto has = [&](const char* flag) { return std::find(args.begin(), args.end(), flag) != args.end(); };
  if (args[0] == "own" && args.size() >= 2) {
    std::size_t chunk = 1 << 20;
    for (std::size_t i = 2; i + 1 < args.size(); ++i) {
      if (args[i] == "--chunk") chunk = std::stoul(args[i + 1]);
    }
    return own(args[1], chunk, has("--string-only"), has("--silent"));
  }
  if (args[0] == "read") {
    const bool named = args.size() >= 2 && args[1].rfind("--", 0) != 0;
    return readSelection(named ? args[1].c_str() : "UTF8_STRING", has("--abandon"));
  }
  return 2;
}
