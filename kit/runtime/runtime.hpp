// The runtime every asynchronous part of Glidemate builds on.
//
// The main executor. A process runs one asio::io_context, on one thread;
// its executor is the main executor. Every object of the library and of the
// host (transports, sessions, listeners, services) takes an
// asio::any_io_executor when it is made and is used only from that executor:
// its public functions are called there, its callbacks and coroutines run
// there, and so its state needs no locks. A thread that is not the
// context's own (a capture thread, a D-Bus thread) never touches such an
// object; it hands work over with asio::post(executor, ...).
//
// Asynchronous functions are coroutines returning asio::awaitable<T>.
// Long-lived work runs in a Task (task.hpp), owned by the object that
// started it, so destroying the owner cancels the work. Work that observes a
// longer-lived object holds it through std::weak_ptr and ends when it is
// gone. Every stream of events is an AsyncStream (async_stream.hpp). Waiting
// is always on an event (Notifier), never by sleeping; time-outs use
// asio::steady_timer.
#pragma once

#include "kit/runtime/async_stream.hpp"
#include "kit/runtime/notifier.hpp"
#include "kit/runtime/task.hpp"
#include "kit/runtime/task_set.hpp"
