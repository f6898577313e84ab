#include "host/services/battery/sysfs/sysfs_power_sources.hpp"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <system_error>

namespace glidemate::host {
namespace {

namespace fs = std::filesystem;

// The first line of an attribute file, without surrounding blanks.
std::optional<std::string> text(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  if (!in || !std::getline(in, line)) return std::nullopt;
  const auto first = line.find_first_not_of(" \t\r");
  if (first == std::string::npos) return std::string();
  const auto last = line.find_last_not_of(" \t\r");
  return line.substr(first, last - first + 1);
}

// A count that cannot be negative (charge, capacity, cycles).
std::optional<std::int64_t> count(const fs::path& file) {
  const auto value = text(file);
  if (!value || value->empty()) return std::nullopt;
  std::int64_t n = 0;
  const auto [end, error] = std::from_chars(value->data(), value->data() + value->size(), n);
  if (error != std::errc() || end != value->data() + value->size() || n < 0) return std::nullopt;
  return n;
}

// The charge now and when full, from the first pair the driver gives in
// full: energy (µWh) or charge (µAh).
void readCapacities(const fs::path& folder, PowerSources::Source& source) {
  for (const char* unit : {"energy", "charge"}) {
    const std::string prefix(unit);
    auto now = count(folder / (prefix + "_now"));
    auto full = count(folder / (prefix + "_full"));
    if (now && full) {
      source.currentCapacity = now;
      source.maxCapacity = full;
      return;
    }
  }
}

PowerSources::Source readSupply(const fs::path& folder) {
  PowerSources::Source source;
  source.isInternalBattery = text(folder / "type") == "Battery" && text(folder / "scope") != "Device";
  if (!source.isInternalBattery) return source;
  // Drivers without the file only list batteries that are there.
  const auto present = count(folder / "present");
  source.isPresent = !present || *present != 0;
  readCapacities(folder, source);
  source.statedPercent = count(folder / "capacity");
  source.isCharging = text(folder / "status") == "Charging";
  source.cycleCount = count(folder / "cycle_count");
  const auto health = text(folder / "health");
  if (health && !health->empty() && *health != "Unknown") source.condition = health;
  return source;
}

}  // namespace

SysfsPowerSources::SysfsPowerSources(std::filesystem::path root) : root_(std::move(root)) {}

std::vector<PowerSources::Source> SysfsPowerSources::sources() {
  std::vector<fs::path> supplies;
  std::error_code error;
  for (fs::directory_iterator it(root_, error), end; !error && it != end; it.increment(error)) {
    supplies.push_back(it->path());
  }
  std::sort(supplies.begin(), supplies.end());
  std::vector<Source> out;
  for (const auto& folder : supplies) out.push_back(readSupply(folder));
  return out;
}

}  // namespace glidemate::host
