#include "kit/session/session_receiver.hpp"

#include <exception>

#include "kit/wire/message_codec.hpp"

namespace glidemate {

SessionReceiver::Outcome SessionReceiver::accept(FrameCipher& cipher, const SessionInbound& inbound) {
  if (ended_) {
    return Ended{};
  }
  if (inbound.record.kind != RecordKind::encrypted) {
    return Dropped{};
  }
  try {
    FrameCipher::Opened opened = cipher.open(inbound.record.body);
    const bool cameUnreliable = inbound.channel == Channel::unreliable;
    // The flag is authenticated; a mismatch means the frame was moved to
    // the other channel, where its sequence would be checked by the wrong
    // rule.
    if (opened.header.isUnreliable != cameUnreliable) {
      return Dropped{};
    }
    if (cameUnreliable) {
      if (!unreliableReceive_.accept(opened.header.sequence)) {
        return Dropped{};
      }
    } else if (opened.header.sequence != reliableReceive_.next()) {
      ended_ = true;
      return Ended{};
    } else {
      reliableReceive_.accept(opened.header.sequence);
    }
    try {
      return Delivered{MessageCodec::decode(opened.plaintext)};
    } catch (const std::exception&) {
      return Dropped{true};
    }
  } catch (const std::exception&) {
    return Dropped{};
  }
}

}  // namespace glidemate
