// The record framing of the reliable byte stream, fed in pieces of a fuzzed
// size (the first byte), and the one-record reading of a datagram (the rest
// as one datagram).
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_check.hpp"
#include "kit/wire/codec_error.hpp"
#include "kit/wire/record_framer.hpp"

using namespace glidemate;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t piece = std::size_t{data[0]} + 1;
  const ByteView stream(data + 1, size - 1);

  try {
    const Record record = RecordFramer::decodeSingle(stream);
    fuzz::require(RecordFramer::decodeSingle(RecordFramer::encode(record.kind, record.body)) == record,
                  "a datagram's record re-encodes to itself");
  } catch (const CodecError&) {
  }

  RecordFramer framer;
  std::size_t taken = 0;
  std::size_t recordBytes = 0;
  try {
    for (std::size_t at = 0; at < stream.size(); at += piece) {
      framer.append(stream.subspan(at, std::min(piece, stream.size() - at)));
      while (auto record = framer.next()) {
        const Bytes again = RecordFramer::encode(record->kind, record->body);
        fuzz::require(RecordFramer::decodeSingle(again) == *record, "a stream's record re-encodes to itself");
        recordBytes += again.size();
      }
      taken = at + piece;
    }
    fuzz::require(recordBytes + framer.bufferedBytes() == stream.size(), "every byte is in a record or waiting");
  } catch (const CodecError&) {
    // The stream is unusable from here; what was taken stays taken.
    fuzz::require(recordBytes <= std::min(taken + piece, stream.size()), "records come from the bytes appended");
  }
  return 0;
}
