#include "host/services/image/icon_png.hpp"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>

namespace glidemate::host {
namespace {

struct Unref {
  void operator()(GdkPixbuf* pixbuf) const { g_object_unref(pixbuf); }
};
using Pixbuf = std::unique_ptr<GdkPixbuf, Unref>;

// gdk-pixbuf draws a PNG that was cut short without a word, leaving the
// missing rows as whatever the memory held; a whole PNG ends with its IEND
// chunk (a few bytes may follow it).
bool endsLikeAWholePng(const std::filesystem::path& file, std::uintmax_t size) {
  constexpr std::string_view end("IEND\xae\x42\x60\x82", 8);
  const std::uintmax_t tail = std::min<std::uintmax_t>(size, 4096);
  std::ifstream in(file, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(size - tail));
  std::string bytes(tail, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(tail));
  return in && bytes.find(end) != std::string::npos;
}

bool isPng(GdkPixbufFormat* format) {
  gchar* name = gdk_pixbuf_format_get_name(format);
  const bool png = name != nullptr && std::string_view(name) == "png";
  g_free(name);
  return png;
}

}  // namespace

std::optional<Bytes> renderIconPng(const std::filesystem::path& file, int side) {
  std::error_code error;
  const auto size = std::filesystem::file_size(file, error);
  if (error || size > maxIconFileBytes) return std::nullopt;

  int width = 0;
  int height = 0;
  GdkPixbufFormat* format = gdk_pixbuf_get_file_info(file.c_str(), &width, &height);
  if (format == nullptr || width <= 0 || height <= 0) return std::nullopt;
  if (!gdk_pixbuf_format_is_scalable(format) &&
      static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) > maxIconPixels) {
    return std::nullopt;
  }
  if (isPng(format) && !endsLikeAWholePng(file, size)) return std::nullopt;

  GError* failure = nullptr;
  Pixbuf scaled(gdk_pixbuf_new_from_file_at_scale(file.c_str(), side, side, TRUE, &failure));
  if (failure != nullptr) g_error_free(failure);
  if (!scaled) return std::nullopt;
  Pixbuf withAlpha(gdk_pixbuf_add_alpha(scaled.get(), FALSE, 0, 0, 0));
  if (!withAlpha) return std::nullopt;

  Pixbuf square(gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, side, side));
  if (!square) return std::nullopt;
  gdk_pixbuf_fill(square.get(), 0x00000000);
  const int w = std::min(gdk_pixbuf_get_width(withAlpha.get()), side);
  const int h = std::min(gdk_pixbuf_get_height(withAlpha.get()), side);
  gdk_pixbuf_copy_area(withAlpha.get(), 0, 0, w, h, square.get(), (side - w) / 2, (side - h) / 2);

  gchar* buffer = nullptr;
  gsize length = 0;
  if (!gdk_pixbuf_save_to_buffer(square.get(), &buffer, &length, "png", &failure, nullptr)) {
    if (failure != nullptr) g_error_free(failure);
    return std::nullopt;
  }
  Bytes png(reinterpret_cast<const std::uint8_t*>(buffer), reinterpret_cast<const std::uint8_t*>(buffer) + length);
  g_free(buffer);
  return png;
}

}  // namespace glidemate::host
