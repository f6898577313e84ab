#pragma once

// host/x11: what the host's X11 features share. The event poster keeps a
// connection of its own; the desktop features (clipboard, laser dot,
// window-manager reads) share one X11DesktopConnection, whose events are
// read on the main executor.

#include <X11/Xlib.h>

#include <asio/any_io_executor.hpp>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace glidemate::host {

// One connection to the X server for the desktop features. Its events are
// read on the main executor whenever the connection's descriptor becomes
// readable (no thread) and handed to the handlers subscribed for the
// window they concern. X protocol errors never end the process: requests
// that may fail run under an X11ErrorTrap, and untrapped errors are dropped.
//
// Requests to the X server itself are fine to make synchronously; a reply
// that another client controls (a selection owner, the window manager) must
// be awaited through events with a time-out instead.
//
// Main executor only.
class X11DesktopConnection : public std::enable_shared_from_this<X11DesktopConnection> {
 public:
  using Handler = std::function<void(const XEvent&)>;

  // Keeps a handler subscribed until it is destroyed or reset. May outlive
  // the connection.
  class Subscription {
   public:
    Subscription() = default;
    Subscription(Subscription&& other) noexcept;
    Subscription& operator=(Subscription&& other) noexcept;
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;
    ~Subscription() { reset(); }
    void reset();

   private:
    friend class X11DesktopConnection;
    Subscription(std::weak_ptr<X11DesktopConnection> connection, std::uint64_t id)
        : connection_(std::move(connection)), id_(id) {}
    std::weak_ptr<X11DesktopConnection> connection_;
    std::uint64_t id_ = 0;
  };

  // A window property as read: 8-bit data in `bytes`, 16- and 32-bit items
  // in `numbers`.
  struct Property {
    Atom type = 0;
    int format = 0;
    std::string bytes;
    std::vector<unsigned long> numbers;
    // More data followed what was read.
    bool truncated = false;
  };

  // `displayName` empty means the DISPLAY environment variable. Throws
  // X11Error when the display can't be opened.
  static std::shared_ptr<X11DesktopConnection> open(const asio::any_io_executor& executor,
                                                    const std::string& displayName = {});
  ~X11DesktopConnection();
  X11DesktopConnection(const X11DesktopConnection&) = delete;
  X11DesktopConnection& operator=(const X11DesktopConnection&) = delete;

  Display* display() const { return display_; }
  Window root() const { return root_; }
  const asio::any_io_executor& executor() const { return executor_; }

  // The atom of `name`, interned on first use.
  Atom atom(const std::string& name);

  // Hands every event whose window is `window` to `handler` (for selection
  // requests the owner, for selection notices the requestor). Handlers run
  // on the main executor and must not throw; they may subscribe and
  // unsubscribe, themselves included.
  [[nodiscard]] Subscription subscribe(Window window, Handler handler);

  // Reads at most `maxBytes` of a property (32-bit items count four bytes),
  // deleting it afterwards when `remove` is set and all of it was read.
  // Nothing when the window is gone or lacks the property.
  std::optional<Property> readProperty(Window window, Atom property, std::size_t maxBytes, bool remove = false);

  // Sends the requests made so far and makes sure that events Xlib read
  // while waiting for replies are dispatched too. Call after making requests
  // with the display directly.
  void flush();

 private:
  struct Reader;
  struct Entry {
    Window window;
    std::shared_ptr<Handler> handler;
  };

  X11DesktopConnection(const asio::any_io_executor& executor, Display* display);
  void waitForEvents();
  void dispatchQueued();
  void dispatch(const XEvent& event);

  asio::any_io_executor executor_;
  Display* display_;
  Window root_;
  std::unique_ptr<Reader> reader_;
  std::map<std::string, Atom> atoms_;
  std::map<std::uint64_t, Entry> handlers_;
  std::uint64_t nextId_ = 1;
  bool drainPosted_ = false;
};

}  // namespace glidemate::host
