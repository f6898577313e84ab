#include "host/services/image/jpeg_encoding.hpp"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "host/services/image/image_header.hpp"

namespace glidemate::host {
namespace {

struct GObjectRelease {
  void operator()(gpointer object) const { g_object_unref(object); }
};
using Pixbuf = std::unique_ptr<GdkPixbuf, GObjectRelease>;
using Loader = std::unique_ptr<GdkPixbufLoader, GObjectRelease>;

struct ErrorRelease {
  void operator()(GError* error) const { g_error_free(error); }
};

struct Size {
  int width;
  int height;
};

// The size that fits within `longestSide`, never larger than the image.
Size fitted(int width, int height, std::uint32_t longestSide) {
  const double scale =
      std::min(static_cast<double>(std::max(longestSide, 1U)) / std::max(width, height), 1.0);
  return {std::max(1, static_cast<int>(std::lround(width * scale))),
          std::max(1, static_cast<int>(std::lround(height * scale)))};
}

// Asks the loader, once it knows the size, to decode straight to the size
// wanted: the JPEG decoder then skips most of its work.
void onSizePrepared(GdkPixbufLoader* loader, int width, int height, gpointer longestSide) {
  const Size size = fitted(width, height, *static_cast<const std::uint32_t*>(longestSide));
  if (size.width != width || size.height != height) gdk_pixbuf_loader_set_size(loader, size.width, size.height);
}

// Decodes with the loader of the format the header names, so that no other
// gdk-pixbuf loader ever sees the data.
Pixbuf decode(ByteView image, ImageHeader::Format format, std::uint32_t longestSide) {
  GError* raw = nullptr;
  Loader loader(gdk_pixbuf_loader_new_with_type(format == ImageHeader::Format::png ? "png" : "jpeg", &raw));
  std::unique_ptr<GError, ErrorRelease> error(raw);
  if (!loader) return nullptr;
  g_signal_connect(loader.get(), "size-prepared", reinterpret_cast<GCallback>(&onSizePrepared), &longestSide);
  const bool written = gdk_pixbuf_loader_write(loader.get(), image.data(), image.size(), &raw);
  error.reset(raw);
  raw = nullptr;
  // Closing is required even after a failed write.
  const bool closed = gdk_pixbuf_loader_close(loader.get(), &raw);
  error.reset(raw);
  if (!written || !closed) return nullptr;
  GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(loader.get());
  if (pixbuf == nullptr) return nullptr;
  // Turned the way the camera or the editor meant it to be seen.
  return Pixbuf(gdk_pixbuf_apply_embedded_orientation(pixbuf));
}

}  // namespace

std::optional<Bytes> encodeJpeg(ByteView image, std::uint32_t longestSide) {
  const auto header = ImageHeader::read(image);
  if (!header || header->width == 0 || header->height == 0 ||
      std::uint64_t{header->width} * header->height > maxDecodedPixels) {
    return std::nullopt;
  }
  Pixbuf decoded = decode(image, header->format, longestSide);
  if (!decoded) return std::nullopt;

  const int width = gdk_pixbuf_get_width(decoded.get());
  const int height = gdk_pixbuf_get_height(decoded.get());
  const Size size = fitted(width, height, longestSide);
  Pixbuf ready;
  if (gdk_pixbuf_get_has_alpha(decoded.get())) {
    // Laid on white, and scaled if the loader has not, in one pass.
    constexpr guint32 white = 0xFFFFFF;
    ready.reset(gdk_pixbuf_composite_color_simple(decoded.get(), size.width, size.height, GDK_INTERP_BILINEAR, 255,
                                                  8, white, white));
  } else if (size.width != width || size.height != height) {
    ready.reset(gdk_pixbuf_scale_simple(decoded.get(), size.width, size.height, GDK_INTERP_BILINEAR));
  } else {
    ready = std::move(decoded);
  }
  if (!ready) return std::nullopt;

  gchar* buffer = nullptr;
  gsize length = 0;
  GError* raw = nullptr;
  const bool saved =
      gdk_pixbuf_save_to_buffer(ready.get(), &buffer, &length, "jpeg", &raw, "quality", "80", nullptr);
  std::unique_ptr<GError, ErrorRelease> error(raw);
  std::unique_ptr<gchar, decltype(&g_free)> owned(buffer, &g_free);
  if (!saved || buffer == nullptr) return std::nullopt;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(buffer);
  return Bytes(bytes, bytes + length);
}

}  // namespace glidemate::host
