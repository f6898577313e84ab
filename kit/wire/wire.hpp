// The wire format every transport carries: the little-endian byte codec,
// records and their framing, the binary message set, and the JSON commands
// and events that ride inside messages. Pure values; no I/O, no threads.
#pragma once

#include "kit/wire/byte_reader.hpp"
#include "kit/wire/byte_writer.hpp"
#include "kit/wire/codec_error.hpp"
#include "kit/wire/command.hpp"
#include "kit/wire/event.hpp"
#include "kit/wire/icon_assembler.hpp"
#include "kit/wire/input_enums.hpp"
#include "kit/wire/message.hpp"
#include "kit/wire/message_codec.hpp"
#include "kit/wire/protocol.hpp"
#include "kit/wire/record.hpp"
#include "kit/wire/record_framer.hpp"
