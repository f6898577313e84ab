// An X application for tests that need one as a separate program: one
// top-level window with the class and application id given on the command
// line, which says on stdout when it is mapped, unmapped (hidden) and asked
// to close, and quits when asked politely (WM_DELETE_WINDOW).
//
//   x-test-app [--class INSTANCE CLASS] [--gtk-id ID] [--announce FILE]
//
// --announce also writes the lines to FILE (a FIFO the test reads), for a
// program that a test does not start itself.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

FILE* announced = nullptr;

void say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
  if (announced != nullptr) {
    std::fprintf(announced, "%s\n", line.c_str());
    std::fflush(announced);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string instance = "x-test-app";
  std::string className = "X-test-app";
  std::string gtkId;
  std::string announce;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--class" && i + 2 < argc) {
      instance = argv[++i];
      className = argv[++i];
    } else if (option == "--gtk-id" && i + 1 < argc) {
      gtkId = argv[++i];
    } else if (option == "--announce" && i + 1 < argc) {
      announce = argv[++i];
    } else {
      std::fprintf(stderr, "x-test-app: unknown option %s\n", option.c_str());
      return 2;
    }
  }

  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "x-test-app: no display\n");
    return 1;
  }
  const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 200, 150, 0, 0, 0xFFFFFF);
  XSelectInput(display, window, StructureNotifyMask);

  std::string classHint = instance + '\0' + className + '\0';
  XChangeProperty(display, window, XA_WM_CLASS, XA_STRING, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(classHint.data()), static_cast<int>(classHint.size()));
  if (!gtkId.empty()) {
    XChangeProperty(display, window, XInternAtom(display, "_GTK_APPLICATION_ID", False),
                    XInternAtom(display, "UTF8_STRING", False), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(gtkId.data()), static_cast<int>(gtkId.size()));
  }
  const long pid = getpid();
  XChangeProperty(display, window, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&pid), 1);
  Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
  XSetWMProtocols(display, window, &deleteWindow, 1);
  XMapWindow(display, window);
  XFlush(display);
  // Opening a FIFO waits for its reader: the test is listening from here on.
  if (!announce.empty()) announced = std::fopen(announce.c_str(), "w");

  for (;;) {
    XEvent event;
    XNextEvent(display, &event);
    if (event.type == MapNotify) {
      say("mapped " + std::to_string(window));
    } else if (event.type == UnmapNotify) {
      say("unmapped");
    } else if (event.type == ClientMessage && static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow) {
      say("closed");
      XCloseDisplay(display);
      return 0;
    }
  }
}
