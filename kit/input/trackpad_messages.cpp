#include "kit/input/trackpad_messages.hpp"

#include "kit/wire/overload.hpp"

namespace glidemate {
namespace {

// The wire carries 32-bit floats; touch distances and speeds fit easily.
float narrow(double value) { return static_cast<float>(value); }

}  // namespace

std::vector<Message> trackpadMessages(const TrackpadAction& action) {
  using A = TrackpadAction;
  return std::visit(
      Overload{
          [](const A::MoveCursor& m) -> std::vector<Message> {
            return {Message::PointerMove{narrow(m.dx), narrow(m.dy)}};
          },
          [](const A::Click& c) -> std::vector<Message> {
            return {Message::Button{c.button, true}, Message::Button{c.button, false}};
          },
          [](const A::System& s) -> std::vector<Message> { return {Message::Gesture{s.gesture}}; },
          [](const A::Scroll& s) -> std::vector<Message> {
            return {Message::Scroll{s.phase, narrow(s.dx), narrow(s.dy)}};
          },
          [](const A::DragBegan&) -> std::vector<Message> {
            return {Message::Button{MouseButton::left, true}};
          },
          [](const A::DragEnded&) -> std::vector<Message> {
            return {Message::Button{MouseButton::left, false}};
          },
      },
      action.value);
}

}  // namespace glidemate
