#pragma once

#include <string>

namespace glidemate::host {

// What the desktop lets the host do, asked afresh on every call. The host
// needs to post input (the pointer, keys), to capture the screen (the
// preview) and to reach desktop services over the session bus.
class PermissionProbe {
 public:
  // Where the desktop's own question to the user stands, on desktops that
  // ask before letting input through: `pending` while it is open or about
  // to be asked, `refused` once the user said no; `none` where nothing is
  // asked, or once the user allowed it.
  enum class Question { none, pending, refused };

  struct Check {
    bool allowed = false;
    // When not allowed: why, and what would change it, in a sentence or two.
    std::string why;
    // Input only.
    Question question = Question::none;
    bool operator==(const Check&) const = default;
  };

  virtual ~PermissionProbe() = default;
  virtual Check input() = 0;
  // Has the desktop ask its question again after the user refused; false
  // where there is no such question.
  virtual bool askForInputAgain() = 0;
  virtual Check capture() = 0;
  virtual Check sessionBus() = 0;
};

}  // namespace glidemate::host
