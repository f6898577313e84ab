// Test helper: a temporary folder, removed with its contents at the end.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

namespace glidemate::host::testing {

class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/glidemate-companion-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

}  // namespace glidemate::host::testing
