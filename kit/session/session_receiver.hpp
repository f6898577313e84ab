#pragma once

#include <variant>

#include "kit/session/frame_cipher.hpp"
#include "kit/session/replay_window.hpp"
#include "kit/session/sequence_checker.hpp"
#include "kit/session/session_inbox.hpp"
#include "kit/wire/message.hpp"

namespace glidemate {

// The receive side of an established session: opens each record's frame,
// checks its order on the channel it came on and decodes its message.
//
// Once established, nothing a peer sends is an error: a record that does
// not open, claims the other channel, repeats a datagram or does not decode
// is dropped on its own. Only a gap in the reliable sequence ends the
// inbound side, because an ordered channel that skipped a frame cannot be
// trusted to carry the rest.
class SessionReceiver {
 public:
  struct Delivered {
    Message message;
  };
  struct Dropped {
    // The frame opened and was in order, but its message did not decode.
    bool authentic = false;
  };
  struct Ended {};
  using Outcome = std::variant<Delivered, Dropped, Ended>;

  // Never throws. After Ended, every later record is Ended too.
  Outcome accept(FrameCipher& cipher, const SessionInbound& inbound);

  const SequenceChecker& reliableReceive() const { return reliableReceive_; }
  const ReplayWindow& unreliableReceive() const { return unreliableReceive_; }

 private:
  SequenceChecker reliableReceive_;
  ReplayWindow unreliableReceive_;
  bool ended_ = false;
};

}  // namespace glidemate
