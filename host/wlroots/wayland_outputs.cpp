#include "host/wlroots/wayland_outputs.hpp"

#include <wayland-client.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "xdg-output-unstable-v1-client-protocol.h"

namespace glidemate::host {

struct WaylandOutputs::Entry {
  std::uint32_t name = 0;
  wl_output* output = nullptr;
  zxdg_output_v1* xdg = nullptr;
  ScreenRect logical{};
  bool hasPosition = false;
  bool hasSize = false;
  std::optional<double> refresh;

  ~Entry() {
    if (xdg != nullptr) zxdg_output_v1_destroy(xdg);
    if (output != nullptr) wl_output_destroy(output);
  }

  static const wl_output_listener outputListener;
  static const zxdg_output_v1_listener xdgListener;
};

const wl_output_listener WaylandOutputs::Entry::outputListener{
    [](void*, wl_output*, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t, const char*,
       const char*, std::int32_t) {},
    [](void* data, wl_output*, std::uint32_t flags, std::int32_t, std::int32_t, std::int32_t refresh) {
      if ((flags & WL_OUTPUT_MODE_CURRENT) != 0 && refresh > 0) static_cast<Entry*>(data)->refresh = refresh / 1000.0;
    },
    [](void*, wl_output*) {},
    [](void*, wl_output*, std::int32_t) {},
    nullptr,
    nullptr,
};

const zxdg_output_v1_listener WaylandOutputs::Entry::xdgListener{
    [](void* data, zxdg_output_v1*, std::int32_t x, std::int32_t y) {
      auto& e = *static_cast<Entry*>(data);
      e.logical.x = x;
      e.logical.y = y;
      e.hasPosition = true;
    },
    [](void* data, zxdg_output_v1*, std::int32_t width, std::int32_t height) {
      auto& e = *static_cast<Entry*>(data);
      e.logical.width = width;
      e.logical.height = height;
      e.hasSize = width > 0 && height > 0;
    },
    [](void*, zxdg_output_v1*) {},
    [](void*, zxdg_output_v1*, const char*) {},
    [](void*, zxdg_output_v1*, const char*) {},
};

WaylandOutputs::WaylandOutputs() = default;

WaylandOutputs::~WaylandOutputs() { clear(); }

bool WaylandOutputs::offer(wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t version) {
  if (std::strcmp(interface, zxdg_output_manager_v1_interface.name) == 0) {
    if (manager_ != nullptr) return true;
    manager_ = static_cast<zxdg_output_manager_v1*>(
        wl_registry_bind(registry, name, &zxdg_output_manager_v1_interface, std::min(version, 2u)));
    for (auto& e : entries_) describe(*e);
    return true;
  }
  if (std::strcmp(interface, wl_output_interface.name) != 0) return false;
  auto e = std::make_unique<Entry>();
  e->name = name;
  e->output = static_cast<wl_output*>(wl_registry_bind(registry, name, &wl_output_interface, std::min(version, 2u)));
  wl_output_add_listener(e->output, &Entry::outputListener, e.get());
  describe(*e);
  entries_.push_back(std::move(e));
  return true;
}

void WaylandOutputs::describe(Entry& e) {
  if (manager_ == nullptr || e.xdg != nullptr) return;
  e.xdg = zxdg_output_manager_v1_get_xdg_output(manager_, e.output);
  zxdg_output_v1_add_listener(e.xdg, &Entry::xdgListener, &e);
}

void WaylandOutputs::remove(std::uint32_t name) {
  std::erase_if(entries_, [&](const auto& e) { return e->name == name; });
}

void WaylandOutputs::clear() {
  entries_.clear();
  if (manager_ != nullptr) zxdg_output_manager_v1_destroy(manager_);
  manager_ = nullptr;
}

std::vector<WaylandOutputs::Output> WaylandOutputs::described() const {
  std::vector<Output> found;
  for (const auto& e : entries_) {
    if (e->hasPosition && e->hasSize) found.push_back({e->name, e->output, e->logical});
  }
  return found;
}

std::optional<std::vector<ScreenRect>> WaylandOutputs::rects() const {
  std::vector<ScreenRect> found;
  for (const auto& o : described()) found.push_back(*o.logical);
  if (found.empty()) return std::nullopt;
  return found;
}

std::optional<double> WaylandOutputs::refreshRate() const {
  for (const auto& e : entries_) {
    if (e->refresh) return e->refresh;
  }
  return std::nullopt;
}

std::optional<std::size_t> outputHolding(const std::vector<ScreenRect>& outputs, ScreenPoint point) {
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const ScreenRect& r = outputs[i];
    if (point.x >= r.minX() && point.x < r.maxX() && point.y >= r.minY() && point.y < r.maxY()) return i;
  }
  return std::nullopt;
}

std::optional<ScreenPoint> nearestPointOnOutputs(const std::vector<ScreenRect>& outputs, ScreenPoint point) {
  if (!std::isfinite(point.x) || !std::isfinite(point.y)) return std::nullopt;
  if (outputHolding(outputs, point)) return point;
  std::optional<ScreenPoint> nearest;
  double best = std::numeric_limits<double>::infinity();
  for (const ScreenRect& r : outputs) {
    if (r.width <= 0 || r.height <= 0) continue;
    const ScreenPoint p{std::clamp(point.x, r.minX(), r.maxX() - 1), std::clamp(point.y, r.minY(), r.maxY() - 1)};
    const double distance = std::hypot(p.x - point.x, p.y - point.y);
    if (distance < best) {
      best = distance;
      nearest = p;
    }
  }
  return nearest;
}

}  // namespace glidemate::host
