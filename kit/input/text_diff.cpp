#include "kit/input/text_diff.hpp"

#include <unicode/ubrk.h>
#include <unicode/utext.h>

#include <cstddef>
#include <memory>

namespace glidemate::TextDiff {
namespace {

// Byte offsets of the grapheme-cluster boundaries of a UTF-8 text, from 0 to
// its length. ICU carries the Unicode segmentation rules, which change with
// every Unicode version; ill-formed bytes count as one character each.
std::vector<std::size_t> clusterBoundaries(std::string_view text) {
  std::vector<std::size_t> boundaries{0};
  if (text.empty()) return boundaries;
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<UText, decltype(&utext_close)> utext(
      utext_openUTF8(nullptr, text.data(), static_cast<std::int64_t>(text.size()), &status),
      &utext_close);
  std::unique_ptr<UBreakIterator, decltype(&ubrk_close)> breaks(
      ubrk_open(UBRK_CHARACTER, "", nullptr, 0, &status), &ubrk_close);
  if (U_SUCCESS(status)) ubrk_setUText(breaks.get(), utext.get(), &status);
  if (U_FAILURE(status)) {
    // Without segmentation data every byte is its own character: the diff
    // is still correct, only coarser.
    for (std::size_t i = 1; i <= text.size(); ++i) boundaries.push_back(i);
    return boundaries;
  }
  for (auto b = ubrk_next(breaks.get()); b != UBRK_DONE; b = ubrk_next(breaks.get())) {
    boundaries.push_back(static_cast<std::size_t>(b));
  }
  return boundaries;
}

std::string_view cluster(std::string_view text, const std::vector<std::size_t>& bounds,
                         std::size_t index) {
  return text.substr(bounds[index], bounds[index + 1] - bounds[index]);
}

}  // namespace

std::vector<Change> changes(std::string_view from, std::string_view to) {
  if (from == to) return {};
  const auto oldBounds = clusterBoundaries(from);
  const auto newBounds = clusterBoundaries(to);
  const std::size_t oldCount = oldBounds.size() - 1;
  const std::size_t newCount = newBounds.size() - 1;

  std::size_t prefix = 0;
  while (prefix < oldCount && prefix < newCount &&
         cluster(from, oldBounds, prefix) == cluster(to, newBounds, prefix)) {
    ++prefix;
  }

  std::vector<Change> result;
  if (oldCount > prefix) result.push_back(Change::backspace(static_cast<std::int64_t>(oldCount - prefix)));
  if (newCount > prefix) result.push_back(Change::insert(std::string(to.substr(newBounds[prefix]))));
  return result;
}

}  // namespace glidemate::TextDiff
