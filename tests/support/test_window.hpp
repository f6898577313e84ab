// Test helper: a top-level window of a separate X client, whose class,
// title and full-screen state a test sets, and which reports the keys and
// clicks it receives. Without Xlib's macros in the including file.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace glidemate::host::testing {

class TestWindow {
 public:
  struct Options {
    // WM_CLASS instance and class; none: the window has no class.
    std::optional<std::pair<std::string, std::string>> windowClass = {};
    // _NET_WM_NAME (as UTF8_STRING) and WM_NAME (as STRING), byte for byte.
    std::optional<std::string> netWmName = {};
    std::optional<std::string> wmName = {};
    int x = 0;
    int y = 0;
    int width = 400;
    int height = 300;
    // The background, as 0xRRGGBB.
    unsigned long background = 0xFFFFFF;
  };

  // Creates and maps the window. Throws std::runtime_error when the display
  // does not open.
  TestWindow(const std::string& displayName, const Options& options);
  ~TestWindow();
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;

  unsigned long id() const;

  // Requests to the window manager, as a pager would make them.
  void activate();
  void requestFullScreen();
  // Destroys the window (the client stays connected).
  void destroy();

  // Handles this client's events until `done()` holds; false if it still
  // does not after a long guard, which only keeps a broken test from hanging.
  bool waitUntil(const std::function<bool()>& done);
  bool isActive();
  bool isFullScreen();
  bool isViewable();

  // The keysym of the next key pressed in the window, and where the next
  // click landed (window coordinates); nothing if none came.
  std::optional<unsigned long> nextKeyPress();
  std::optional<std::pair<int, int>> nextButtonPress();

 private:
  struct Client;
  std::unique_ptr<Client> client_;
};

}  // namespace glidemate::host::testing
