// Test helper: a folder of its own under /tmp, removed with everything in it
// when its owner goes away, with small helpers for writing files into it.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace glidemate::testing {

class TemporaryFolder {
 public:
  TemporaryFolder() {
    char pattern[] = "/tmp/glidemate-test-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TemporaryFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::filesystem::path& relative) const { return path_ / relative; }

  // Writes `contents` to `relative`, making the folders on the way; `mode`
  // 0755 makes an executable script.
  std::filesystem::path write(const std::filesystem::path& relative, const std::string& contents,
                              mode_t mode = 0644) const {
    const auto file = path_ / relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << contents;
    ::chmod(file.c_str(), mode);
    return file;
  }

 private:
  std::filesystem::path path_;
};

}  // namespace glidemate::testing
