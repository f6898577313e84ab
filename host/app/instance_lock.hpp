#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>

#include "host/app/host_options.hpp"

namespace glidemate::host {

// One host per data folder: glidemate-host and glidemate-companion take an
// exclusive lock on a file named after the folder in $XDG_RUNTIME_DIR (the
// settings folder when that is unset) before they start serving. The lock
// ends with the process, however it ends.
class InstanceLock {
 public:
  // Who holds the lock, as far as its file says.
  struct Holder {
    std::string program;  // empty when the holder has not written it yet
    pid_t pid = 0;
  };
  struct Outcome;

  // The lock for the data kept in `folders`, or who already holds it.
  // Throws std::runtime_error when the lock file cannot be opened.
  static Outcome acquire(const HostFolders& folders, const std::string& program);
  static std::filesystem::path fileFor(const HostFolders& folders);

  InstanceLock(InstanceLock&& other) noexcept;
  InstanceLock& operator=(InstanceLock&&) = delete;
  InstanceLock(const InstanceLock&) = delete;
  ~InstanceLock();

  // "PROGRAM is already running for this data folder (pid N)".
  static std::string alreadyRunning(const Holder& holder);

 private:
  explicit InstanceLock(int fd) : fd_(fd) {}
  int fd_ = -1;
};

struct InstanceLock::Outcome {
  std::optional<InstanceLock> lock;
  Holder holder;  // when `lock` is empty
};

}  // namespace glidemate::host
