#include "kit/runtime/atomic_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "kit/runtime/file_descriptor.hpp"

namespace glidemate {

int replaceFileAtomically(const std::filesystem::path& file, std::string_view contents, mode_t mode) {
  const auto dir = file.parent_path().empty() ? std::filesystem::path(".") : file.parent_path();
  std::string temporary = (dir / ("." + file.filename().string() + "-XXXXXX")).string();
  FileDescriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
  if (fd.get() < 0) return errno;
  auto fail = [&](int error) {
    ::unlink(temporary.c_str());
    return error;
  };
  if (::fchmod(fd.get(), mode) != 0) return fail(errno);
  std::size_t written = 0;
  while (written < contents.size()) {
    const ssize_t n = ::write(fd.get(), contents.data() + written, contents.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fail(errno);
    written += static_cast<std::size_t>(n);
  }
  if (::fsync(fd.get()) != 0) return fail(errno);
  if (fd.close() != 0) return fail(errno);
  if (::rename(temporary.c_str(), file.c_str()) != 0) return fail(errno);
  FileDescriptor dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dirFd.get() >= 0) ::fsync(dirFd.get());
  return 0;
}

}  // namespace glidemate
