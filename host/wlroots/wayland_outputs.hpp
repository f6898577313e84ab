#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "host/input/screen_geometry.hpp"

struct wl_output;
struct wl_registry;
struct zxdg_output_manager_v1;

namespace glidemate::host {

// A compositor's outputs as one client connection sees them: each
// wl_output with its place and size in the layout (xdg-output, logical
// points) and its refresh rate. Fed from the connection's registry;
// proxies are destroyed with it, before the connection. Main executor only.
class WaylandOutputs {
 public:
  struct Output {
    std::uint32_t name = 0;
    wl_output* output = nullptr;
    // Its rectangle in the layout, once xdg-output has told it.
    std::optional<ScreenRect> logical;
  };

  WaylandOutputs();
  ~WaylandOutputs();
  WaylandOutputs(const WaylandOutputs&) = delete;
  WaylandOutputs& operator=(const WaylandOutputs&) = delete;

  // Binds a registry global if it is an output or the xdg-output manager;
  // whether it was.
  bool offer(wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t version);
  // A global removed from the registry.
  void remove(std::uint32_t name);
  // Destroys every proxy (the connection is going).
  void clear();

  // The outputs whose place and size are known, in the order the
  // compositor announced them.
  std::vector<Output> described() const;
  std::optional<std::vector<ScreenRect>> rects() const;
  // The first output's refresh rate in hertz, once known.
  std::optional<double> refreshRate() const;

 private:
  struct Entry;
  void describe(Entry& entry);

  zxdg_output_manager_v1* manager_ = nullptr;
  std::vector<std::unique_ptr<Entry>> entries_;
};

// As wlroots keeps its pointer on the layout: a point on an output stays;
// any other goes to the nearest point of the nearest output, at most its
// last pixel. Nothing without outputs.
std::optional<ScreenPoint> nearestPointOnOutputs(const std::vector<ScreenRect>& outputs, ScreenPoint point);
// The index of the output that holds `point` (its right and bottom edges
// excluded), if any.
std::optional<std::size_t> outputHolding(const std::vector<ScreenRect>& outputs, ScreenPoint point);

}  // namespace glidemate::host
