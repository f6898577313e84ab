#include "kit/session/xdg/file_keychain.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "kit/runtime/atomic_file.hpp"
#include "kit/runtime/file_descriptor.hpp"
#include "kit/session/keychain_error.hpp"

namespace glidemate {
namespace {

constexpr char hexDigits[] = "0123456789abcdef";

std::string toHex(const std::string& text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (unsigned char c : text) {
    out.push_back(hexDigits[c >> 4]);
    out.push_back(hexDigits[c & 0xF]);
  }
  return out;
}

std::optional<std::string> fromHex(const std::string& name) {
  if (name.empty() || name.size() % 2 != 0) return std::nullopt;
  std::string out;
  for (std::size_t i = 0; i < name.size(); i += 2) {
    int value = 0;
    for (char c : {name[i], name[i + 1]}) {
      int digit;
      if (c >= '0' && c <= '9') {
        digit = c - '0';
      } else if (c >= 'a' && c <= 'f') {
        digit = c - 'a' + 10;
      } else {
        return std::nullopt;
      }
      value = value * 16 + digit;
    }
    out.push_back(static_cast<char>(value));
  }
  return out;
}

bool isPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

std::int32_t statusFor(int error) {
  switch (error) {
    case ENOSPC:
    case EDQUOT:
      return KeychainStatus::diskFull;
    case EACCES:
    case EPERM:
    case EROFS:
      return KeychainStatus::writePermissionError;
    default:
      return KeychainStatus::ioError;
  }
}

int makePrivateDirectory(const std::filesystem::path& dir) {
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (error) return error.value();
  if (::chmod(dir.c_str(), 0700) != 0) return errno;
  return 0;
}

}  // namespace

FileKeychain::FileKeychain(std::filesystem::path root) : root_(std::move(root)) {}

std::optional<std::filesystem::path> FileKeychain::itemPath(const std::string& service,
                                                            const std::string& account) const {
  if (!isPlainName(service) || account.empty() || account.size() > maxAccountBytes) {
    return std::nullopt;
  }
  return root_ / service / toHex(account);
}

std::int32_t FileKeychain::write(const std::filesystem::path& item, ByteView data) {
  if (const int error = makePrivateDirectory(item.parent_path())) return statusFor(error);
  const std::string_view bytes(reinterpret_cast<const char*>(data.data()), data.size());
  if (const int error = replaceFileAtomically(item, bytes, 0600)) return statusFor(error);
  return KeychainStatus::success;
}

std::int32_t FileKeychain::update(const std::string& service, const std::string& account,
                                  ByteView data) {
  const auto item = itemPath(service, account);
  if (!item) return KeychainStatus::parameterError;
  std::error_code error;
  if (!std::filesystem::exists(*item, error)) {
    return error ? statusFor(error.value()) : KeychainStatus::itemNotFound;
  }
  return write(*item, data);
}

std::int32_t FileKeychain::add(const std::string& service, const std::string& account,
                               ByteView data) {
  const auto item = itemPath(service, account);
  if (!item) return KeychainStatus::parameterError;
  std::error_code error;
  if (std::filesystem::exists(*item, error)) return KeychainStatus::duplicateItem;
  return write(*item, data);
}

std::optional<Bytes> FileKeychain::copy(const std::string& service, const std::string& account) {
  const auto item = itemPath(service, account);
  if (!item) return std::nullopt;
  FileDescriptor fd(::open(item->c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (fd.get() < 0) return std::nullopt;
  struct stat info {};
  // Items are small; anything large is not one of ours.
  constexpr off_t largestItem = 64 * 1024;
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > largestItem) {
    return std::nullopt;
  }
  Bytes data(static_cast<std::size_t>(info.st_size));
  std::size_t got = 0;
  while (got < data.size()) {
    const ssize_t n = ::read(fd.get(), data.data() + got, data.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::nullopt;
    got += static_cast<std::size_t>(n);
  }
  return data;
}

void FileKeychain::remove(const std::string& service, const std::string& account) {
  if (const auto item = itemPath(service, account)) ::unlink(item->c_str());
}

std::vector<std::string> FileKeychain::accounts(const std::string& service) {
  std::vector<std::string> out;
  if (!isPlainName(service)) return out;
  std::error_code error;
  for (std::filesystem::directory_iterator it(root_ / service, error), end; !error && it != end;
       it.increment(error)) {
    if (auto account = fromHex(it->path().filename().string())) out.push_back(std::move(*account));
  }
  return out;
}

}  // namespace glidemate
