#include "host/services/clipboard/x11/x11_clipboard_service.hpp"

#include <X11/Xatom.h>

#include <asio/redirect_error.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>
#include <functional>
#include <list>

#include "host/x11/x11_text.hpp"
#include "kit/runtime/notifier.hpp"
#include "kit/wire/utf8.hpp"

namespace glidemate::host {

struct X11ClipboardService::State : std::enable_shared_from_this<State> {
  // The text we own the selection with, and since when.
  struct Owned {
    std::string text;
    Time since;
  };

  // A reply going to a requestor in pieces: each piece follows the
  // requestor's deletion of the one before.
  struct Transfer {
    std::uint64_t id;
    Window requestor;
    Atom property;
    Atom type;
    std::string data;
    std::size_t offset = 0;
    X11DesktopConnection::Subscription events;
    asio::steady_timer deadline;
  };

  // A coroutine waiting for an event on our window.
  struct Waiter {
    std::function<bool(const XEvent&)> accept;
    std::optional<XEvent> event;
    asio::steady_timer* timer;
  };

  // Ends a read however it ends, letting the next one start.
  struct ReadTurn {
    State& state;
    ~ReadTurn() {
      state.reading = false;
      state.readDone.notifyAll();
    }
  };

  std::shared_ptr<X11DesktopConnection> connection;
  Options options;
  Display* display;
  Window window;
  Atom clipboard, targets, timestamp, utf8, textPlain, incr, stampProperty, readProperty;
  X11DesktopConnection::Subscription events;
  std::optional<Owned> owned;
  std::list<Transfer> transfers;
  std::uint64_t nextTransferId = 1;
  std::list<Waiter*> waiters;
  bool reading = false;
  Notifier readDone;

  State(std::shared_ptr<X11DesktopConnection> c, Options o)
      : connection(std::move(c)),
        options(o),
        display(connection->display()),
        window(XCreateSimpleWindow(display, connection->root(), -10, -10, 1, 1, 0, 0, 0)),
        clipboard(connection->atom("CLIPBOARD")),
        targets(connection->atom("TARGETS")),
        timestamp(connection->atom("TIMESTAMP")),
        utf8(connection->atom("UTF8_STRING")),
        textPlain(connection->atom("text/plain;charset=utf-8")),
        incr(connection->atom("INCR")),
        stampProperty(connection->atom("GLIDEMATE_TIMESTAMP")),
        readProperty(connection->atom("GLIDEMATE_CLIPBOARD")),
        readDone(connection->executor()) {
    if (options.incrementalChunkBytes == 0) {
      // Room for the request's own header.
      options.incrementalChunkBytes = static_cast<std::size_t>(XMaxRequestSize(display)) * 4 - 256;
    }
    XSelectInput(display, window, PropertyChangeMask);
    connection->flush();
  }

  void start() {
    events = connection->subscribe(window, [this](const XEvent& event) { handle(event); });
  }

  void close() {
    events.reset();
    while (!transfers.empty()) finish(transfers.front().id);
    for (Waiter* waiter : waiters) waiter->timer->cancel();
    // The server gives the selection up with the window.
    XDestroyWindow(display, window);
    connection->flush();
  }

  void handle(const XEvent& event) {
    switch (event.type) {
      case SelectionRequest: answer(event.xselectionrequest); return;
      case SelectionClear:
        // A notice about an older ownership of ours may come after we took
        // the selection again.
        if (event.xselectionclear.selection == clipboard && owned && event.xselectionclear.time >= owned->since) {
          owned.reset();
        }
        return;
      default:
        for (Waiter* waiter : waiters) {
          if (!waiter->event && waiter->accept(event)) {
            waiter->event = event;
            waiter->timer->cancel();
            return;
          }
        }
    }
  }

  // The first event on our window that `accept` takes, or nothing after the
  // reply time-out. Register before yielding after the request: events are
  // only dispatched once the caller suspends.
  asio::awaitable<std::optional<XEvent>> next(std::function<bool(const XEvent&)> accept) {
    asio::steady_timer timer(connection->executor(), options.replyTimeout);
    Waiter waiter{std::move(accept), std::nullopt, &timer};
    waiters.push_back(&waiter);
    asio::error_code error;
    co_await timer.async_wait(asio::redirect_error(asio::use_awaitable, error));
    waiters.remove(&waiter);
    if (!waiter.event && error == asio::error::operation_aborted) throw asio::system_error(error);
    co_return waiter.event;
  }

  // --- Owning ---

  void answer(const XSelectionRequestEvent& request) {
    XEvent reply{};
    reply.xselection.type = SelectionNotify;
    reply.xselection.requestor = request.requestor;
    reply.xselection.selection = request.selection;
    reply.xselection.target = request.target;
    reply.xselection.time = request.time;
    reply.xselection.property = None;
    // Clients from before ICCCM 2 name no property: the target stands in.
    const Atom property = request.property == None ? request.target : request.property;
    const bool current = request.time == CurrentTime || (owned && request.time >= owned->since);
    if (owned && request.selection == clipboard && current && provide(request.requestor, property, request.target)) {
      reply.xselection.property = property;
    }
    // A requestor that is gone makes these requests fail, harmlessly.
    XSendEvent(display, request.requestor, False, NoEventMask, &reply);
    connection->flush();
  }

  bool provide(Window requestor, Atom property, Atom target) {
    if (target == targets) {
      const Atom offered[] = {targets, timestamp, utf8, textPlain, XA_STRING};
      XChangeProperty(display, requestor, property, XA_ATOM, 32, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(offered), std::size(offered));
    } else if (target == timestamp) {
      const long since = static_cast<long>(owned->since);
      XChangeProperty(display, requestor, property, XA_INTEGER, 32, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(&since), 1);
    } else if (target == utf8 || target == textPlain) {
      send(requestor, property, target, owned->text);
    } else if (target == XA_STRING) {
      send(requestor, property, XA_STRING, utf8ToLatin1(owned->text));
    } else {
      return false;
    }
    return true;
  }

  void send(Window requestor, Atom property, Atom type, std::string data) {
    if (data.size() <= options.incrementalChunkBytes) {
      XChangeProperty(display, requestor, property, type, 8, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(data.data()), static_cast<int>(data.size()));
      return;
    }
    // A requestor asks for one reply at a time on one property; an older
    // transfer there belongs to a requestor that gave up, or to a window
    // that vanished and whose id the server has given out again.
    for (const auto& t : transfers) {
      if (t.requestor == requestor && t.property == property) {
        finish(t.id);
        break;
      }
    }
    // The requestor deletes the INCR property to ask for the first piece.
    XSelectInput(display, requestor, PropertyChangeMask | StructureNotifyMask);
    const long size = static_cast<long>(data.size());
    XChangeProperty(display, requestor, property, incr, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&size), 1);
    const std::uint64_t id = nextTransferId++;
    Transfer& transfer = transfers.emplace_back(
        Transfer{id, requestor, property, type, std::move(data), 0, {}, asio::steady_timer(connection->executor())});
    transfer.events = connection->subscribe(requestor, [this, id](const XEvent& event) {
      if (event.type == DestroyNotify) finish(id);
      if (event.type == PropertyNotify && event.xproperty.state == PropertyDelete) continueTransfer(id, event.xproperty.atom);
    });
    armDeadline(transfer);
  }

  Transfer* findTransfer(std::uint64_t id) {
    for (auto& t : transfers) {
      if (t.id == id) return &t;
    }
    return nullptr;
  }

  // A requestor that stops asking for pieces (or vanished) is given up on.
  void armDeadline(Transfer& transfer) {
    transfer.deadline.expires_after(options.replyTimeout);
    transfer.deadline.async_wait([weak = weak_from_this(), id = transfer.id](const asio::error_code& error) {
      const auto self = weak.lock();
      if (self && !error) self->finish(id);
    });
  }

  void continueTransfer(std::uint64_t id, Atom deleted) {
    Transfer* transfer = findTransfer(id);
    if (transfer == nullptr || deleted != transfer->property) return;
    const std::size_t length = std::min(options.incrementalChunkBytes, transfer->data.size() - transfer->offset);
    // The last piece is empty.
    XChangeProperty(display, transfer->requestor, transfer->property, transfer->type, 8, PropModeAppend,
                    reinterpret_cast<const unsigned char*>(transfer->data.data() + transfer->offset),
                    static_cast<int>(length));
    connection->flush();
    if (length == 0) {
      finish(id);
      return;
    }
    transfer->offset += length;
    armDeadline(*transfer);
  }

  void finish(std::uint64_t id) {
    const auto it = std::find_if(transfers.begin(), transfers.end(), [id](const Transfer& t) { return t.id == id; });
    if (it == transfers.end()) return;
    const Window requestor = it->requestor;
    transfers.erase(it);
    const bool shared =
        std::any_of(transfers.begin(), transfers.end(), [requestor](const Transfer& t) { return t.requestor == requestor; });
    if (!shared) XSelectInput(display, requestor, NoEventMask);
    connection->flush();
  }

  // --- Reading ---

  std::string decode(Atom type, const std::string& bytes) const {
    return type == XA_STRING ? latin1ToUtf8(bytes) : validUtf8(bytes);
  }

  struct Reply {
    // False: the owner did not answer in time.
    bool answered;
    std::optional<std::string> text;
  };

  asio::awaitable<Reply> convert(Atom target) {
    XDeleteProperty(display, window, readProperty);
    XConvertSelection(display, clipboard, target, readProperty, window, CurrentTime);
    connection->flush();
    const auto notice = co_await next([this, target](const XEvent& e) {
      return e.type == SelectionNotify && e.xselection.selection == clipboard && e.xselection.target == target;
    });
    if (!notice) co_return Reply{false, std::nullopt};
    if (notice->xselection.property == None) co_return Reply{true, std::nullopt};
    auto value = connection->readProperty(window, readProperty, options.maxReadBytes, true);
    if (!value) co_return Reply{true, std::nullopt};
    if (value->truncated) XDeleteProperty(display, window, readProperty);
    if (value->type != incr) co_return Reply{true, decode(value->type, value->bytes)};

    // Reading the INCR property deleted it, which asks for the first piece.
    std::string data;
    Atom type = XA_STRING;
    for (;;) {
      const auto piece = co_await next([this](const XEvent& e) {
        return e.type == PropertyNotify && e.xproperty.atom == readProperty && e.xproperty.state == PropertyNewValue;
      });
      if (!piece) co_return Reply{false, std::nullopt};
      const auto chunk = connection->readProperty(window, readProperty, options.maxReadBytes, true);
      if (!chunk) co_return Reply{true, std::nullopt};
      if (chunk->bytes.empty()) break;
      type = chunk->type;
      data += chunk->bytes;
      if (data.size() >= options.maxReadBytes) {
        // Enough: the owner gives up on its own once nobody asks for more.
        XDeleteProperty(display, window, readProperty);
        connection->flush();
        data.resize(options.maxReadBytes);
        break;
      }
    }
    co_return Reply{true, decode(type, data)};
  }
};

X11ClipboardService::X11ClipboardService(std::shared_ptr<X11DesktopConnection> connection, Options options)
    : state_(std::make_shared<State>(std::move(connection), options)) {
  state_->start();
}

X11ClipboardService::~X11ClipboardService() { state_->close(); }

asio::awaitable<void> X11ClipboardService::setText(std::string text) {
  const auto state = state_;
  // The selection is taken at a time the server gave us, as the
  // conventions ask: an empty append to our own property reports one.
  XChangeProperty(state->display, state->window, state->stampProperty, XA_INTEGER, 8, PropModeAppend, nullptr, 0);
  state->connection->flush();
  const auto stamp = co_await state->next([&](const XEvent& e) {
    return e.type == PropertyNotify && e.xproperty.atom == state->stampProperty;
  });
  if (!stamp) throw Failure("the X server did not answer");
  const Time since = stamp->xproperty.time;
  XSetSelectionOwner(state->display, state->clipboard, state->window, since);
  if (XGetSelectionOwner(state->display, state->clipboard) != state->window) {
    throw Failure("another program holds on to the clipboard");
  }
  state->owned = State::Owned{validUtf8(text), since};
  state->connection->flush();
}

asio::awaitable<std::optional<std::string>> X11ClipboardService::text() {
  const auto state = state_;
  // One read at a time: the replies of two would land in one property.
  while (state->reading) co_await state->readDone.wait();
  state->reading = true;
  const State::ReadTurn turn{*state};

  const Window owner = XGetSelectionOwner(state->display, state->clipboard);
  if (owner == None) co_return std::nullopt;
  if (owner == state->window) {
    if (!state->owned) co_return std::nullopt;
    co_return state->owned->text;
  }
  // STRING for owners from before UTF-8; an owner that does not answer
  // at all is not asked again.
  for (const Atom target : {state->utf8, Atom{XA_STRING}}) {
    auto reply = co_await state->convert(target);
    if (reply.text || !reply.answered) co_return std::move(reply.text);
  }
  co_return std::nullopt;
}

}  // namespace glidemate::host
