#pragma once

#include <string>
#include <string_view>

namespace glidemate::host {

// Latin-1 is what X calls STRING (in titles, class names and selections).

// Every byte is one character.
std::string latin1ToUtf8(std::string_view bytes);
// Characters beyond Latin-1 become '?'; ill-formed bytes count as U+FFFD,
// so they do too.
std::string utf8ToLatin1(std::string_view text);

}  // namespace glidemate::host
