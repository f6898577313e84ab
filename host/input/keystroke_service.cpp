#include "host/input/keystroke_service.hpp"

#include <string>

#include "host/input/key_chord.hpp"
#include "host/input/virtual_key.hpp"

namespace glidemate::host {
namespace {

// Auxiliary-control buttons carry their state in the second byte of data1
// and the event's modifier flags: 0xA for down, 0xB for up.
constexpr std::int64_t auxKeyDown = 0xA00;
constexpr std::int64_t auxKeyUp = 0xB00;

bool isHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

// Decodes UTF-8 to UTF-16. The wire only carries well-formed text, but the
// service may be handed anything: an ill-formed sequence types U+FFFD rather
// than garbage.
std::u16string utf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t i = 0;
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  while (i < text.size()) {
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    char32_t cp = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
      length = 1, cp = lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2, cp = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3, cp = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4, cp = lead & 0x07, minimum = 0x10000;
    }
    bool valid = length != 0 && i + length <= text.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
      valid = (byte(i + k) & 0xC0) == 0x80;
      cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    valid = valid && cp >= minimum && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
    if (!valid) {
      out.push_back(u'\uFFFD');
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += length;
  }
  return out;
}

}  // namespace

KeystrokeService::Refusal::Refusal(Case c)
    : std::runtime_error("secure keyboard entry is on: typing from other programs is ignored"),
      case_(c) {}

KeystrokeService::KeystrokeService(EventPoster& poster, GestureBackend& gestures)
    : poster_(poster), gestures_(gestures), source_(poster.createSource(EventSourceStateId::hidSystemState)) {}

void KeystrokeService::key(KeyboardKey key, KeyModifiers modifiers) {
  if (const auto keyType = auxControlKeyType(key)) {
    postSystemKey(*keyType);
    return;
  }
  const auto code = virtualKeyCode(key);
  if (!code) return;
  refuseSecureInput();
  press(*code, eventFlags(modifiers));
}

void KeystrokeService::refuseSecureInput() {
  if (poster_.isSecureEventInputEnabled()) throw Refusal::secureInput();
}

void KeystrokeService::press(std::uint16_t keyCode, std::uint64_t flags) {
  postKeyChord(poster_, source_, keyCode, flags);
}

void KeystrokeService::postSystemKey(std::int32_t keyType) {
  for (const std::int64_t state : {auxKeyDown, auxKeyUp}) {
    SystemDefinedEvent event;
    event.modifierFlags = static_cast<std::uint64_t>(state);
    event.data1 = (static_cast<std::int64_t>(keyType) << 16) | state;
    poster_.post(event, EventTapLocation::hid);
  }
}

void KeystrokeService::type(std::string_view text) {
  if (text.empty()) return;
  refuseSecureInput();
  const std::u16string units = utf16(text);
  std::size_t start = 0;
  while (start < units.size()) {
    std::size_t length = std::min(maxUnitsPerEvent, units.size() - start);
    // A surrogate pair cut in two would type two broken halves: end the chunk
    // one unit earlier so the pair travels together.
    if (start + length < units.size() && isHighSurrogate(units[start + length - 1])) --length;
    const std::u16string chunk = units.substr(start, length);
    poster_.post(KeyboardEvent{source_, VirtualKey::ansiA, true, std::nullopt, chunk}, EventTapLocation::hid);
    poster_.post(KeyboardEvent{source_, VirtualKey::ansiA, false, std::nullopt, chunk}, EventTapLocation::hid);
    start += length;
  }
}

}  // namespace glidemate::host
