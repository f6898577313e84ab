#include "host/server/host_name.hpp"

#include <unistd.h>

#include <climits>
#include <fstream>

namespace glidemate::host {
namespace {

// machine-info values may be quoted, shell style.
std::string unquote(std::string value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size()) ++i;
    out.push_back(value[i]);
  }
  return out;
}

}  // namespace

std::string localHostName(const std::filesystem::path& machineInfo) {
  std::ifstream in(machineInfo);
  std::string line;
  while (std::getline(in, line)) {
    constexpr std::string_view key = "PRETTY_HOSTNAME=";
    if (line.rfind(key, 0) == 0) {
      std::string pretty = unquote(line.substr(key.size()));
      if (!pretty.empty()) return pretty;
    }
  }
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name) == 0 && name[0] != '\0') return name;
  return "Mac";
}

}  // namespace glidemate::host
