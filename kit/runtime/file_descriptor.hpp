#pragma once

#include <unistd.h>

namespace glidemate {

// Owns a file descriptor (or -1) and closes it when it goes.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
      if (fd_ >= 0) ::close(fd_);
      fd_ = other.release();
    }
    return *this;
  }

  int get() const { return fd_; }
  // Hands the descriptor over to the caller, who closes it.
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes now, reporting the error a delayed write may only show here.
  int close() {
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc;
  }

 private:
  int fd_;
};

}  // namespace glidemate
