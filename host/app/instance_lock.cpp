#include "host/app/instance_lock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>

namespace glidemate::host {
namespace {

// A stable name for a folder (FNV-1a, 64 bits): both programs, whatever
// their build, must arrive at the same file.
std::string nameFor(const std::filesystem::path& folder) {
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (unsigned char c : folder.string()) {
    hash ^= c;
    hash *= 0x100000001b3ULL;
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return std::string("glidemate-") + text + ".lock";
}

InstanceLock::Holder readHolder(int fd) {
  char buffer[256] = {};
  const ssize_t n = ::pread(fd, buffer, sizeof buffer - 1, 0);
  InstanceLock::Holder holder;
  if (n <= 0) return holder;
  std::istringstream in(std::string(buffer, static_cast<std::size_t>(n)));
  in >> holder.pid;
  std::getline(in >> std::ws, holder.program);
  return holder;
}

}  // namespace

std::filesystem::path InstanceLock::fileFor(const HostFolders& folders) {
  std::error_code ignored;
  const auto data = std::filesystem::weakly_canonical(std::filesystem::absolute(folders.keys), ignored);
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::filesystem::path dir = runtime != nullptr && runtime[0] == '/'
                                        ? std::filesystem::path(runtime)
                                        : folders.settingsFile.parent_path();
  return dir / nameFor(data.empty() ? folders.keys : data);
}

InstanceLock::Outcome InstanceLock::acquire(const HostFolders& folders, const std::string& program) {
  const auto file = fileFor(folders);
  std::error_code ignored;
  std::filesystem::create_directories(file.parent_path(), ignored);
  const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    throw std::runtime_error("cannot open the lock file " + file.string() + ": " + std::strerror(errno));
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    Outcome outcome{std::nullopt, readHolder(fd)};
    ::close(fd);
    if (error != EWOULDBLOCK) {
      throw std::runtime_error("cannot lock " + file.string() + ": " + std::strerror(error));
    }
    return outcome;
  }
  const std::string text = std::to_string(::getpid()) + " " + program + "\n";
  if (::ftruncate(fd, 0) == 0) {
    // Only a courtesy for the next program's message; the lock is what counts.
    [[maybe_unused]] const auto written = ::pwrite(fd, text.data(), text.size(), 0);
  }
  return Outcome{InstanceLock(fd), {}};
}

InstanceLock::InstanceLock(InstanceLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) ::close(fd_);
}

std::string InstanceLock::alreadyRunning(const Holder& holder) {
  const std::string who = holder.program.empty() ? "Glidemate" : holder.program;
  std::string text = who + " is already running for this data folder";
  if (holder.pid > 0) text += " (pid " + std::to_string(holder.pid) + ")";
  return text;
}

}  // namespace glidemate::host
