#pragma once

#include <string>
#include <string_view>

namespace glidemate::host {

// `text` (UTF-8) without the white space and line breaks at either end, by
// Unicode's definition of white space (so a no-break space or a line
// separator goes too, as people expect of a message they see trimmed).
std::string trimWhitespace(std::string_view text);

}  // namespace glidemate::host
