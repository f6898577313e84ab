#include "tests/support/test_images.hpp"

#include <gdk-pixbuf/gdk-pixbuf.h>

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
                          (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2]};
    g_free(name);
  }
  g_object_unref(loader);
  return result;
}

}  // namespace glidemate::testing
