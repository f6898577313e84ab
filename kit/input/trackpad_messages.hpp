#pragma once

#include <vector>

#include "kit/input/trackpad_action.hpp"
#include "kit/wire/message.hpp"

namespace glidemate {

// The messages a phone sends for one trackpad action, in order: a click is
// its button going down and up; a drag holds the left button from
// DragBegan to DragEnded.
std::vector<Message> trackpadMessages(const TrackpadAction& action);

}  // namespace glidemate
