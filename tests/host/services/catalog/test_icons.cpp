#include "tests/host/services/catalog/test_icons.hpp"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <stdexcept>

namespace glidemate::host::testing {

void writePng(const std::filesystem::path& file, int width, int height, std::uint32_t rgba) {
  std::filesystem::create_directories(file.parent_path());
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, width, height);
  gdk_pixbuf_fill(pixbuf, rgba);
  const gboolean saved = gdk_pixbuf_save(pixbuf, file.c_str(), "png", nullptr, nullptr);
  g_object_unref(pixbuf);
  if (!saved) throw std::runtime_error("could not write " + file.string());
}

std::string svg(int width, int height) {
  const auto w = std::to_string(width);
  const auto h = std::to_string(height);
  return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + w + "\" height=\"" + h + "\" viewBox=\"0 0 " + w +
         " " + h + "\"><circle cx=\"" + std::to_string(width / 2) + "\" cy=\"" + std::to_string(height / 2) +
         "\" r=\"" + std::to_string(std::min(width, height) / 2) + "\" fill=\"#c33\"/></svg>\n";
}

std::optional<DecodedImage> decode(const Bytes& data) {
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
  const bool read = gdk_pixbuf_loader_write(loader, data.data(), data.size(), nullptr) &&
                    gdk_pixbuf_loader_close(loader, nullptr);
  std::optional<DecodedImage> image;
  GdkPixbuf* pixbuf = read ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
  if (pixbuf != nullptr) {
    GdkPixbufFormat* format = gdk_pixbuf_loader_get_format(loader);
    gchar* name = gdk_pixbuf_format_get_name(format);
    image = DecodedImage{name, gdk_pixbuf_get_width(pixbuf), gdk_pixbuf_get_height(pixbuf),
                         gdk_pixbuf_get_has_alpha(pixbuf) != FALSE, {}};
    g_free(name);
    const int channels = gdk_pixbuf_get_n_channels(pixbuf);
    const int stride = gdk_pixbuf_get_rowstride(pixbuf);
    const guchar* pixels = gdk_pixbuf_read_pixels(pixbuf);
    for (int y = 0; y < image->height; ++y) {
      for (int x = 0; x < image->width; ++x) {
        image->alpha.push_back(image->hasAlpha ? pixels[y * stride + x * channels + 3] : 255);
      }
    }
  }
  if (!read) gdk_pixbuf_loader_close(loader, nullptr);
  g_object_unref(loader);
  return image;
}

}  // namespace glidemate::host::testing
