#include "host/input/input_event.hpp"

#include <iomanip>
#include <ostream>
#include <sstream>

namespace glidemate::host {
namespace {

const char* name(EventType type) {
  switch (type) {
    case EventType::leftMouseDown: return "leftMouseDown";
    case EventType::leftMouseUp: return "leftMouseUp";
    case EventType::rightMouseDown: return "rightMouseDown";
    case EventType::rightMouseUp: return "rightMouseUp";
    case EventType::mouseMoved: return "mouseMoved";
    case EventType::leftMouseDragged: return "leftMouseDragged";
    case EventType::rightMouseDragged: return "rightMouseDragged";
    case EventType::keyDown: return "keyDown";
    case EventType::keyUp: return "keyUp";
    case EventType::systemDefined: return "systemDefined";
    case EventType::scrollWheel: return "scrollWheel";
  }
  return "unknown";
}

std::ostream& operator<<(std::ostream& out, const std::optional<EventSource>& source) {
  if (!source) return out << "no source";
  return out << "source " << static_cast<std::int32_t>(source->stateId);
}

template <class V>
std::ostream& operator<<(std::ostream& out, const EventFieldValues<V>& fields) {
  for (const auto& entry : fields) {
    out << " field" << static_cast<std::uint32_t>(entry.field) << '=' << entry.value;
  }
  return out;
}

}  // namespace

std::u32string codePointsOf(const std::u16string& units) {
  std::u32string out;
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char16_t u = units[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      out.push_back(0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (units[i + 1] - 0xDC00));
      ++i;
    } else if (u < 0xD800 || u > 0xDFFF) {
      out.push_back(u);
    }
  }
  return out;
}

std::ostream& operator<<(std::ostream& out, const MouseEvent& e) {
  return out << "mouse " << name(e.type) << " at (" << e.location.x << ", " << e.location.y
             << ") button " << static_cast<std::uint32_t>(e.button) << ", " << e.source
             << e.integerFields;
}

std::ostream& operator<<(std::ostream& out, const ScrollWheelEvent& e) {
  return out << "scroll units " << static_cast<std::uint32_t>(e.units) << " wheels " << e.wheelCount
             << " (" << e.wheel1 << ", " << e.wheel2 << "), " << e.source << e.integerFields
             << e.doubleFields;
}

std::ostream& operator<<(std::ostream& out, const KeyboardEvent& e) {
  out << "key " << e.virtualKey << (e.keyDown ? " down" : " up");
  if (e.flags) out << " flags 0x" << std::hex << *e.flags << std::dec;
  if (!e.unicodeString.empty()) {
    out << " text U+";
    for (std::size_t i = 0; i < e.unicodeString.size(); ++i) {
      out << (i ? " " : "") << std::hex << std::uppercase << std::setw(4) << std::setfill('0')
          << static_cast<unsigned>(e.unicodeString[i]);
    }
    out << std::dec << std::nouppercase << std::setfill(' ');
  }
  return out << ", " << e.source;
}

std::ostream& operator<<(std::ostream& out, const SystemDefinedEvent& e) {
  return out << "system-defined subtype " << e.subtype << " flags 0x" << std::hex << e.modifierFlags
             << " data1 0x" << e.data1 << std::dec << " data2 " << e.data2;
}

std::string describe(const InputEvent& event) {
  std::ostringstream out;
  std::visit([&](const auto& e) { out << e; }, event);
  return out.str();
}

}  // namespace glidemate::host
