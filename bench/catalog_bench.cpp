// What a phone's launcher costs the host: scanning the desktop entries anew
// for every app list, and drawing one icon into a 64-pixel PNG, from a
// bitmap and from an SVG.
#include <benchmark/benchmark.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "host/services/catalog/app_catalog_service.hpp"
#include "host/services/image/icon_png.hpp"
#include "host/services/catalog/xdg/desktop_entry_directory.hpp"
#include "host/services/catalog/xdg/gio_application_launcher.hpp"

namespace {

using namespace glidemate::host;

class Folder {
 public:
  Folder() {
    char pattern[] = "/tmp/glidemate-bench-XXXXXX";
    path_ = ::mkdtemp(pattern);
  }
  ~Folder() { std::filesystem::remove_all(path_); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

class NothingRuns final : public ApplicationSwitcher {
 public:
  std::vector<RunningApplication> list(const std::vector<InstalledApplication>&) override { return {}; }
  bool activate(const RunningApplication&) override { return false; }
  void hide(const RunningApplication&) override {}
  void terminate(const RunningApplication&) override {}
};

// A catalog of `count` applications, each entry about the size of a real
// one with its translated names.
void appList(benchmark::State& state) {
  Folder folder;
  const auto applications = folder.path() / "applications";
  std::filesystem::create_directories(applications);
  for (int i = 0; i < state.range(0); ++i) {
    std::ofstream entry(applications / ("org.bench.App" + std::to_string(i) + ".desktop"));
    entry << "[Desktop Entry]\nType=Application\nName=App " << i << "\nExec=true %U\nIcon=app" << i
          << "\nCategories=Utility;\n";
    for (const char* language : {"de", "fr", "es", "it", "ja", "pt_BR", "ru", "zh_CN"}) {
      entry << "Name[" << language << "]=App " << i << " (" << language << ")\n";
      entry << "Comment[" << language << "]=Does something useful in " << language << "\n";
    }
  }
  AppCatalogService catalog(
      std::make_unique<DesktopEntryDirectory>(std::vector<std::filesystem::path>{applications},
                                              IconTheme({}, {}), [] { return std::nullopt; }),
      std::make_unique<GioApplicationLauncher>(), std::make_unique<NothingRuns>(), "glidemate");
  for (auto _ : state) benchmark::DoNotOptimize(catalog.apps());
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(appList)->Arg(50)->Arg(200)->Unit(benchmark::kMillisecond);

void iconFromPng(benchmark::State& state) {
  Folder folder;
  const auto file = folder.path() / "icon.png";
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, static_cast<int>(state.range(0)),
                                     static_cast<int>(state.range(0)));
  gdk_pixbuf_fill(pixbuf, 0x3366ccff);
  gdk_pixbuf_save(pixbuf, file.c_str(), "png", nullptr, nullptr);
  g_object_unref(pixbuf);
  for (auto _ : state) benchmark::DoNotOptimize(renderIconPng(file, 64));
}
BENCHMARK(iconFromPng)->Arg(48)->Arg(256)->Arg(1024)->Unit(benchmark::kMillisecond);

void iconFromSvg(benchmark::State& state) {
  Folder folder;
  const auto file = folder.path() / "icon.svg";
  std::ofstream(file) << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"512\" height=\"512\">"
                         "<circle cx=\"256\" cy=\"256\" r=\"200\" fill=\"#c33\"/>"
                         "<rect x=\"100\" y=\"100\" width=\"312\" height=\"80\" rx=\"20\" fill=\"#36c\"/></svg>";
  for (auto _ : state) benchmark::DoNotOptimize(renderIconPng(file, 64));
}
BENCHMARK(iconFromSvg)->Unit(benchmark::kMillisecond);

}  // namespace
