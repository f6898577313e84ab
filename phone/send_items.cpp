#include "phone/send_items.hpp"

#include <array>
#include <cmath>
#include <nlohmann/json.hpp>
#include <stdexcept>

namespace glidemate::phone {
namespace {

template <class E, std::size_t N>
E byName(const std::array<std::pair<const char*, E>, N>& table, const std::string& name,
         const std::string& what) {
  for (const auto& [n, e] : table) {
    if (name == n) return e;
  }
  std::string known;
  for (const auto& [n, e] : table) known += std::string(known.empty() ? "" : ", ") + n;
  throw std::invalid_argument("unknown " + what + " '" + name + "' (one of: " + known + ")");
}

const std::array<std::pair<const char*, MouseButton>, 2> buttons{{
    {"left", MouseButton::left},
    {"right", MouseButton::right},
}};
const std::array<std::pair<const char*, ScrollGesturePhase>, 5> phases{{
    {"mayBegin", ScrollGesturePhase::mayBegin},
    {"began", ScrollGesturePhase::began},
    {"changed", ScrollGesturePhase::changed},
    {"ended", ScrollGesturePhase::ended},
    {"cancelled", ScrollGesturePhase::cancelled},
}};
const std::array<std::pair<const char*, SystemGesture>, 8> gestures{{
    {"missionControl", SystemGesture::missionControl},
    {"appExpose", SystemGesture::appExpose},
    {"spaceLeft", SystemGesture::spaceLeft},
    {"spaceRight", SystemGesture::spaceRight},
    {"escape", SystemGesture::escape},
    {"back", SystemGesture::back},
    {"forward", SystemGesture::forward},
    {"spotlight", SystemGesture::spotlight},
}};
const std::array<std::pair<const char*, KeyboardKey>, 20> keys{{
    {"return", KeyboardKey::returnKey},
    {"delete", KeyboardKey::deleteKey},
    {"forwardDelete", KeyboardKey::forwardDelete},
    {"tab", KeyboardKey::tab},
    {"escape", KeyboardKey::escape},
    {"arrowUp", KeyboardKey::arrowUp},
    {"arrowDown", KeyboardKey::arrowDown},
    {"arrowLeft", KeyboardKey::arrowLeft},
    {"arrowRight", KeyboardKey::arrowRight},
    {"home", KeyboardKey::home},
    {"end", KeyboardKey::end},
    {"pageUp", KeyboardKey::pageUp},
    {"pageDown", KeyboardKey::pageDown},
    {"playPause", KeyboardKey::playPause},
    {"nextTrack", KeyboardKey::nextTrack},
    {"previousTrack", KeyboardKey::previousTrack},
    {"brightnessUp", KeyboardKey::brightnessUp},
    {"brightnessDown", KeyboardKey::brightnessDown},
    {"keyboardLightUp", KeyboardKey::keyboardLightUp},
    {"keyboardLightDown", KeyboardKey::keyboardLightDown},
}};
const std::array<std::pair<const char*, KeyModifiers>, 4> modifiers{{
    {"command", KeyModifiers::command()},
    {"option", KeyModifiers::option()},
    {"control", KeyModifiers::control()},
    {"shift", KeyModifiers::shift()},
}};

float number(const std::string& text, const std::string& item) {
  std::size_t used = 0;
  float value = 0;
  try {
    value = std::stof(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used != text.size() || !std::isfinite(value)) {
    throw std::invalid_argument(item + ": '" + text + "' is not a number");
  }
  return value;
}

KeyModifiers parseModifiers(const std::string& text) {
  KeyModifiers out;
  std::size_t start = 0;
  while (start <= text.size()) {
    const auto end = text.find('+', start);
    const std::string name = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    out.rawValue = static_cast<std::uint8_t>(out.rawValue | byName(modifiers, name, "modifier").rawValue);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return out;
}

}  // namespace

std::vector<Message> parseSendItems(const std::vector<std::string>& words, std::uint64_t pingTimeNs) {
  std::vector<Message> out;
  std::size_t i = 0;
  auto take = [&](const std::string& item, std::size_t count) {
    if (i + count > words.size()) {
      throw std::invalid_argument(item + " needs " + std::to_string(count) + " value" +
                                  (count == 1 ? "" : "s"));
    }
    std::vector<std::string> values(words.begin() + static_cast<std::ptrdiff_t>(i),
                                    words.begin() + static_cast<std::ptrdiff_t>(i + count));
    i += count;
    return values;
  };
  while (i < words.size()) {
    const std::string item = words[i++];
    if (item == "ping") {
      out.push_back(Message::Ping{pingTimeNs});
    } else if (item == "move") {
      const auto v = take(item, 2);
      out.push_back(Message::PointerMove{number(v[0], item), number(v[1], item)});
    } else if (item == "down" || item == "up" || item == "click") {
      const auto button = byName(buttons, take(item, 1)[0], "button");
      if (item != "up") out.push_back(Message::Button{button, true});
      if (item != "down") out.push_back(Message::Button{button, false});
    } else if (item == "scroll") {
      const auto v = take(item, 3);
      out.push_back(Message::Scroll{byName(phases, v[0], "scroll phase"), number(v[1], item),
                                    number(v[2], item)});
    } else if (item == "gesture") {
      out.push_back(Message::Gesture{byName(gestures, take(item, 1)[0], "gesture")});
    } else if (item == "key") {
      const auto key = byName(keys, take(item, 1)[0], "key");
      KeyModifiers mods;
      // A following word of modifier names belongs to this key.
      if (i < words.size() && words[i].find_first_not_of("abcdefghijklmnopqrstuvwxyz+") == std::string::npos) {
        bool allModifiers = true;
        try {
          mods = parseModifiers(words[i]);
        } catch (const std::invalid_argument&) {
          allModifiers = false;
        }
        if (allModifiers) ++i;
      }
      out.push_back(Message::Key{key, mods});
    } else if (item == "text") {
      out.push_back(Message::Text{take(item, 1)[0]});
    } else if (!item.empty() && item.front() == '{') {
      try {
        out.push_back(Message::Command{Command::fromJson(item)});
      } catch (const JsonCodingError& e) {
        throw std::invalid_argument("not a command: " + item + " (" + e.what() + ")");
      }
    } else {
      throw std::invalid_argument("unknown item '" + item + "'");
    }
  }
  return out;
}

std::string messageJson(const Message& message) {
  using Json = nlohmann::ordered_json;
  Json out;
  std::visit(
      [&](const auto& m) {
        using T = std::decay_t<decltype(m)>;
        if constexpr (std::is_same_v<T, Message::Ping>) {
          out = {{"ping", {{"sendTimeNs", m.sendTimeNs}}}};
        } else if constexpr (std::is_same_v<T, Message::Pong>) {
          out = {{"pong", {{"sendTimeNs", m.sendTimeNs}}}};
        } else if constexpr (std::is_same_v<T, Message::Event>) {
          out = {{"event", Json::parse(m.event.toJson(), nullptr, false)}};
        } else if constexpr (std::is_same_v<T, Message::Command>) {
          out = {{"command", Json::parse(m.command.toJson(), nullptr, false)}};
        } else if constexpr (std::is_same_v<T, Message::AppIconChunk>) {
          out = {{"appIconChunk",
                  {{"bundleId", m.bundleId},
                   {"totalBytes", m.totalBytes},
                   {"offset", m.offset},
                   {"bytes", m.chunk.size()}}}};
        } else if constexpr (std::is_same_v<T, Message::Text>) {
          out = {{"text", m.text}};
        } else {
          out = {{"message", "input"}};
        }
      },
      message.value);
  return out.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace glidemate::phone
