#pragma once

#include <memory>
#include <string>

namespace glidemate::host {

// Orders names for people: by the user's locale, ignoring case (so
// "calculator" comes before "Chess"), as a launcher or a file list does.
// Names the collation holds equal are ordered by their bytes, so the order
// never depends on where the names came from.
class NameOrder {
 public:
  // The locale of the environment (LC_ALL, LC_COLLATE, LANG).
  NameOrder();

  bool operator()(const std::string& a, const std::string& b) const;

 private:
  struct Collation;
  // Shared by copies (sorting copies its comparison); only read.
  std::shared_ptr<const Collation> collation_;
};

}  // namespace glidemate::host
