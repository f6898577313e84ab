#pragma once

#include <string>
#include <vector>

#include "kit/wire/message.hpp"

namespace glidemate::phone {

// The items of `glidemate send`, each turned into the messages a phone app
// would send for it:
//   ping | move DX DY | down left|right | up left|right | click left|right |
//   scroll PHASE DX DY | gesture NAME | key NAME [MODIFIERS] | text STRING |
//   a command as its JSON ('{"getVolume":{}}')
// MODIFIERS joins command, option, control and shift with '+'. Throws
// std::invalid_argument naming the item that is wrong.
std::vector<Message> parseSendItems(const std::vector<std::string>& words,
                                    std::uint64_t pingTimeNs);

// One received message as a line of JSON for people and scripts.
std::string messageJson(const Message& message);

}  // namespace glidemate::phone
