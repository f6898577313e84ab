#include "tests/support/test_images.hpp"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>
#include <fstream>
#include <stdexcept>

namespace glidemate::testing {

Bytes makeImage(const std::string& format, int width, int height, std::uint32_t rgba) {
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, format == "png", 8, width, height);
  if (pixbuf == nullptr) throw std::runtime_error("cannot make an image");
  gdk_pixbuf_fill(pixbuf, rgba);
  gchar* buffer = nullptr;
  gsize size = 0;
  const gboolean saved = gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &size, format.c_str(), nullptr, nullptr);
  g_object_unref(pixbuf);
  if (!saved) throw std::runtime_error("cannot encode an image as " + format);
  Bytes bytes(reinterpret_cast<std::uint8_t*>(buffer), reinterpret_cast<std::uint8_t*>(buffer) + size);
  g_free(buffer);
  return bytes;
}

void writeImage(const std::filesystem::path& file, const std::string& format, int width, int height,
                std::uint32_t rgba) {
  const Bytes image = makeImage(format, width, height, rgba);
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
}

std::string svgImage(int width, int height) {
  const auto w = std::to_string(width);
  const auto h = std::to_string(height);
  return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + w + "\" height=\"" + h + "\" viewBox=\"0 0 " + w +
         " " + h + "\"><circle cx=\"" + std::to_string(width / 2) + "\" cy=\"" + std::to_string(height / 2) +
         "\" r=\"" + std::to_string(std::min(width, height) / 2) + "\" fill=\"#c33\"/></svg>\n";
}

std::optional<DecodedImage> decodeImage(ByteView data) {
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
  const bool ok = gdk_pixbuf_loader_write(loader, data.data(), data.size(), nullptr) &&
                  gdk_pixbuf_loader_close(loader, nullptr);
  if (!ok) gdk_pixbuf_loader_close(loader, nullptr);
  std::optional<DecodedImage> result;
  GdkPixbuf* pixbuf = ok ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
  if (pixbuf != nullptr) {
    gchar* name = gdk_pixbuf_format_get_name(gdk_pixbuf_loader_get_format(loader));
    const guchar* p = gdk_pixbuf_read_pixels(pixbuf);
    result = DecodedImage{name, gdk_pixbuf_get_width(pixbuf), gdk_pixbuf_get_height(pixbuf),
                          (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2], {},
                          gdk_pixbuf_get_has_alpha(pixbuf) != FALSE};
    g_free(name);
    const int channels = gdk_pixbuf_get_n_channels(pixbuf);
    const int stride = gdk_pixbuf_get_rowstride(pixbuf);
    for (int y = 0; y < result->height; ++y) {
      for (int x = 0; x < result->width; ++x) {
        result->alpha.push_back(result->hasAlpha ? p[y * stride + x * channels + 3] : 255);
      }
    }
  }
  g_object_unref(loader);
  return result;
}

}  // namespace glidemate::testing
