#include "host/x11/x11_desktop_connection.hpp"

#include <asio/post.hpp>
#include <asio/posix/stream_descriptor.hpp>

#include "host/x11/x11_error.hpp"
#include "host/x11/x11_error_trap.hpp"

namespace glidemate::host {

struct X11DesktopConnection::Reader {
  asio::posix::stream_descriptor descriptor;
};

X11DesktopConnection::Subscription::Subscription(Subscription&& other) noexcept
    : connection_(std::move(other.connection_)), id_(other.id_) {
  other.id_ = 0;
}

X11DesktopConnection::Subscription& X11DesktopConnection::Subscription::operator=(Subscription&& other) noexcept {
  if (this != &other) {
    reset();
    connection_ = std::move(other.connection_);
    id_ = other.id_;
    other.id_ = 0;
  }
  return *this;
}

void X11DesktopConnection::Subscription::reset() {
  if (id_ == 0) return;
  if (const auto connection = connection_.lock()) connection->handlers_.erase(id_);
  id_ = 0;
  connection_.reset();
}

std::shared_ptr<X11DesktopConnection> X11DesktopConnection::open(const asio::any_io_executor& executor,
                                                                 const std::string& displayName) {
  X11ErrorTrap::makeErrorsHarmless();
  Display* display = XOpenDisplay(displayName.empty() ? nullptr : displayName.c_str());
  if (display == nullptr) throw X11Error::cannotOpenDisplay(displayName);
  std::shared_ptr<X11DesktopConnection> connection(new X11DesktopConnection(executor, display));
  connection->waitForEvents();
  return connection;
}

X11DesktopConnection::X11DesktopConnection(const asio::any_io_executor& executor, Display* display)
    : executor_(executor),
      display_(display),
      root_(DefaultRootWindow(display)),
      reader_(std::make_unique<Reader>(Reader{asio::posix::stream_descriptor(executor, ConnectionNumber(display))})) {}

X11DesktopConnection::~X11DesktopConnection() {
  // The descriptor belongs to Xlib, which closes it with the display.
  asio::error_code ignored;
  reader_->descriptor.cancel(ignored);
  reader_->descriptor.release();
  XCloseDisplay(display_);
}

Atom X11DesktopConnection::atom(const std::string& name) {
  const auto known = atoms_.find(name);
  if (known != atoms_.end()) return known->second;
  const Atom interned = XInternAtom(display_, name.c_str(), False);
  atoms_.emplace(name, interned);
  return interned;
}

X11DesktopConnection::Subscription X11DesktopConnection::subscribe(Window window, Handler handler) {
  const std::uint64_t id = nextId_++;
  handlers_.emplace(id, Entry{window, std::make_shared<Handler>(std::move(handler))});
  return Subscription(weak_from_this(), id);
}

std::optional<X11DesktopConnection::Property> X11DesktopConnection::readProperty(Window window, Atom property,
                                                                                 std::size_t maxBytes,
                                                                                 bool remove) {
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  const long length = static_cast<long>((maxBytes + 3) / 4);
  int status = 0;
  bool failed = false;
  {
    X11ErrorTrap trap(display_);
    status = XGetWindowProperty(display_, window, property, 0, length, remove ? True : False, AnyPropertyType,
                                &type, &format, &count, &after, &data);
    failed = trap.failed();
  }
  flush();
  const std::unique_ptr<unsigned char, int (*)(void*)> owned(data, XFree);
  if (failed || status != Success || type == 0) return std::nullopt;

  Property out;
  out.type = type;
  out.format = format;
  out.truncated = after > 0;
  if (format == 8) {
    out.bytes.assign(reinterpret_cast<const char*>(data), count);
    if (out.bytes.size() > maxBytes) {
      out.bytes.resize(maxBytes);
      out.truncated = true;
    }
  } else if (format == 16) {
    const auto* items = reinterpret_cast<const unsigned short*>(data);
    out.numbers.assign(items, items + count);
  } else if (format == 32) {
    // Xlib hands 32-bit items over as longs.
    const auto* items = reinterpret_cast<const unsigned long*>(data);
    out.numbers.assign(items, items + count);
  }
  return out;
}

void X11DesktopConnection::flush() {
  XFlush(display_);
  if (drainPosted_ || XQLength(display_) == 0) return;
  // Dispatch later, not now: the caller may be in the middle of handling
  // an event or of changing its own state.
  drainPosted_ = true;
  asio::post(executor_, [weak = weak_from_this()] {
    if (const auto self = weak.lock()) {
      self->drainPosted_ = false;
      self->dispatchQueued();
    }
  });
}

void X11DesktopConnection::waitForEvents() {
  reader_->descriptor.async_wait(asio::posix::stream_descriptor::wait_read,
                                 [weak = weak_from_this()](const asio::error_code& error) {
                                   const auto self = weak.lock();
                                   if (!self || error) return;
                                   self->dispatchQueued();
                                   self->waitForEvents();
                                 });
}

void X11DesktopConnection::dispatchQueued() {
  // XPending reads what the socket holds without blocking.
  while (XPending(display_) > 0) {
    XEvent event;
    XNextEvent(display_, &event);
    dispatch(event);
  }
}

void X11DesktopConnection::dispatch(const XEvent& event) {
  std::vector<std::pair<std::uint64_t, std::shared_ptr<Handler>>> matching;
  for (const auto& [id, entry] : handlers_) {
    if (entry.window == event.xany.window) matching.emplace_back(id, entry.handler);
  }
  for (const auto& [id, handler] : matching) {
    // An earlier handler may have unsubscribed this one.
    if (handlers_.contains(id)) (*handler)(event);
  }
}

}  // namespace glidemate::host
