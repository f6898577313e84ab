// Turning a cover into the artwork a phone is sent: decode, scale to at most
// 400 pixels a side, encode as JPEG of quality 80.
#include <benchmark/benchmark.h>
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <stdexcept>
#include <string>

#include "host/services/image/jpeg_encoding.hpp"

namespace {

using glidemate::Bytes;

// A photograph-like picture: smooth gradients with some grain, so that
// neither format compresses it to nothing.
Bytes cover(const char* format, int side) {
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, side, side);
  guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
  const int stride = gdk_pixbuf_get_rowstride(pixbuf);
  unsigned noise = 12345;
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      noise = noise * 1103515245U + 12345U;
      guchar* p = pixels + y * stride + x * 3;
      p[0] = static_cast<guchar>((x * 255 / side + (noise >> 28)) & 0xFF);
      p[1] = static_cast<guchar>((y * 255 / side + (noise >> 27)) & 0xFF);
      p[2] = static_cast<guchar>(((x + y) * 127 / side) & 0xFF);
    }
  }
  gchar* buffer = nullptr;
  gsize size = 0;
  if (!gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &size, format, nullptr, nullptr)) {
    throw std::runtime_error("cannot encode the cover");
  }
  g_object_unref(pixbuf);
  Bytes bytes(reinterpret_cast<guchar*>(buffer), reinterpret_cast<guchar*>(buffer) + size);
  g_free(buffer);
  return bytes;
}

void encode(benchmark::State& state, const char* format) {
  const Bytes image = cover(format, static_cast<int>(state.range(0)));
  for (auto _ : state) {
    auto jpeg = glidemate::host::encodeJpeg(image, 400);
    benchmark::DoNotOptimize(jpeg);
  }
  state.counters["inputKiB"] = static_cast<double>(image.size()) / 1024;
}

void jpegCover(benchmark::State& state) { encode(state, "jpeg"); }
void pngCover(benchmark::State& state) { encode(state, "png"); }

}  // namespace

BENCHMARK(jpegCover)->Arg(300)->Arg(640)->Arg(3000)->Unit(benchmark::kMillisecond);
BENCHMARK(pngCover)->Arg(640)->Arg(3000)->Unit(benchmark::kMillisecond);
