#include <gtest/gtest.h>

#include <vector>

#include "kit/input/trackpad_messages.hpp"

namespace glidemate {
namespace {

using A = TrackpadAction;

TEST(TrackpadMessages, EachActionBecomesWhatThePhoneSends) {
  struct Case {
    TrackpadAction action;
    std::vector<Message> messages;
  };
  const std::vector<Case> cases{
      {A::MoveCursor{1.5, -2.25}, {Message::PointerMove{1.5f, -2.25f}}},
      {A::Click{MouseButton::right},
       {Message::Button{MouseButton::right, true}, Message::Button{MouseButton::right, false}}},
      {A::DragBegan{}, {Message::Button{MouseButton::left, true}}},
      {A::DragEnded{}, {Message::Button{MouseButton::left, false}}},
      {A::Scroll{ScrollGesturePhase::ended, 0, 583.5},
       {Message::Scroll{ScrollGesturePhase::ended, 0.0f, 583.5f}}},
      {A::System{SystemGesture::back}, {Message::Gesture{SystemGesture::back}}},
  };
  for (const auto& c : cases) EXPECT_EQ(trackpadMessages(c.action), c.messages);
}

}  // namespace
}  // namespace glidemate
