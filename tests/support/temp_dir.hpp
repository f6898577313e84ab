// Test helper: a temporary folder, removed with everything in it when its
// owner goes away, with a helper for writing files into it.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace glidemate::testing {

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/glidemate-test-XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("no temporary folder");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

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
