#include "host/services/whitespace_trim.hpp"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace glidemate::host {

std::string trimWhitespace(std::string_view text) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  const auto length = static_cast<std::int32_t>(text.size());
  // One pass: where the first character that is not white space starts,
  // and where the last one ends. A malformed byte counts as text.
  std::int32_t begin = -1;
  std::int32_t end = 0;
  for (std::int32_t at = 0; at < length;) {
    const std::int32_t start = at;
    UChar32 c;
    U8_NEXT(bytes, at, length, c);
    if (c < 0 || !u_isUWhiteSpace(c)) {
      if (begin < 0) begin = start;
      end = at;
    }
  }
  if (begin < 0) return {};
  return std::string(text.substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin)));
}

}  // namespace glidemate::host
