#pragma once

namespace glidemate {

// Which end of the handshake a session plays: the phone is the client, the
// desktop the host. It picks the directional keys; Session exposes it as
// Session::Role.
enum class SessionRole { client, host };

}  // namespace glidemate
