#pragma once

#include <filesystem>
#include <string>

namespace glidemate::host {

// The name phones show for this computer: the machine's pretty host name
// (PRETTY_HOSTNAME in machine-info), else its plain host name, else "Mac"
// when the system gives none.
std::string localHostName(const std::filesystem::path& machineInfo = "/etc/machine-info");

}  // namespace glidemate::host
