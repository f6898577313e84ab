// Desktop entries and icon themes in temporary XDG data folders, read with
// GIO and drawn with gdk-pixbuf; launching through GIO starts a real program.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <asio/io_context.hpp>
#include <cstdlib>
#include <fstream>

#include "host/services/catalog/app_catalog_service.hpp"
#include "host/services/catalog/xdg/desktop_entry_directory.hpp"
#include "host/services/catalog/xdg/gio_application_launcher.hpp"
#include "tests/support/test_images.hpp"
#include "tests/support/run_awaitable.hpp"
#include "tests/support/temp_dir.hpp"

namespace glidemate::host {
namespace {

using glidemate::testing::runAwaitable;
using glidemate::testing::TempDir;

std::string entry(const std::string& name, const std::string& extra = "Exec=true\n") {
  return "[Desktop Entry]\nType=Application\nName=" + name + "\n" + extra;
}

class NothingRuns final : public ApplicationSwitcher {
 public:
  std::vector<RunningApplication> list(const std::vector<InstalledApplication>&) override { return {}; }
  bool activate(const RunningApplication&) override { return false; }
  void hide(const RunningApplication&) override {}
  void terminate(const RunningApplication&) override {}
};

// The user's folder (home) and the system's, each with applications and
// icons, and the theme the desktop uses.
class DesktopEntryTest : public ::testing::Test {
 protected:
  TempDir root;
  std::filesystem::path home = root / "home";
  std::filesystem::path system = root / "system";
  std::optional<std::string> theme = "Test";
  IconTheme icons{{home / "icons", system / "icons"}, {system / "pixmaps"}};
  DesktopEntryDirectory directory = makeDirectory();

  DesktopEntryDirectory makeDirectory() {
    return DesktopEntryDirectory({home / "applications", system / "applications"}, icons, [this] { return theme; });
  }
  // A catalog over these folders, launching through GIO, with nothing running.
  AppCatalogService catalog() {
    return AppCatalogService(std::make_unique<DesktopEntryDirectory>(makeDirectory()),
                             std::make_unique<GioApplicationLauncher>(), std::make_unique<NothingRuns>(), "glidemate");
  }

  static void SetUpTestSuite() {
    // Read once by GIO: which desktop OnlyShowIn and NotShowIn are about.
    ::setenv("XDG_CURRENT_DESKTOP", "GNOME", 1);
  }

  void SetUp() override {
    root.write("system/icons/Test/index.theme",
               "[Icon Theme]\nName=Test\nInherits=hicolor\nDirectories=48x48/apps,256x256/apps\n\n"
               "[48x48/apps]\nSize=48\nType=Fixed\n\n[256x256/apps]\nSize=256\nType=Fixed\n");
    root.write("system/icons/hicolor/index.theme",
               "[Icon Theme]\nName=Hicolor\nDirectories=scalable/apps\n\n"
               "[scalable/apps]\nSize=64\nMinSize=16\nMaxSize=512\nType=Scalable\n");
  }

  std::vector<std::string> ids() {
    std::vector<std::string> out;
    for (const auto& app : directory.scan()) out.push_back(app.bundleId);
    return out;
  }
};

TEST_F(DesktopEntryTest, TheEntriesTheDesktopWouldShowWithTheUsersFirst) {
  root.write("home/applications/org.test.Calc.desktop",
             entry("calculator", "Name[fr]=calculatrice\nExec=true\nStartupWMClass=calc-window\n"));
  root.write("system/applications/org.test.Calc.desktop", entry("System Calculator"));
  root.write("system/applications/org.test.Chess.desktop", entry("Chess"));
  root.write("system/applications/kde4/okular.desktop", entry("Okular"));
  root.write("home/applications/org.test.Masked.desktop", entry("Masked", "Exec=true\nHidden=true\n"));
  root.write("system/applications/org.test.Masked.desktop", entry("Masked"));
  root.write("system/applications/org.test.Hidden.desktop", entry("Hidden", "Exec=true\nHidden=true\n"));
  root.write("system/applications/org.test.NoDisplay.desktop", entry("NoDisplay", "Exec=true\nNoDisplay=true\n"));
  root.write("system/applications/org.test.KdeOnly.desktop", entry("KdeOnly", "Exec=true\nOnlyShowIn=KDE;\n"));
  root.write("system/applications/org.test.NotGnome.desktop", entry("NotGnome", "Exec=true\nNotShowIn=GNOME;\n"));
  root.write("system/applications/org.test.TryExec.desktop",
             entry("TryExec", "Exec=true\nTryExec=/nonexistent/glidemate-program\n"));
  root.write("system/applications/org.test.NoExec.desktop", entry("NoExec", ""));
  root.write("system/applications/org.test.Link.desktop", "[Desktop Entry]\nType=Link\nName=Link\nURL=https://x\n");
  root.write("system/applications/org.test.Broken.desktop", std::string("\xff\xfe[[[\0garbage", 14));
  root.write("system/applications/org.test.Huge.desktop",
             entry("Huge") + std::string(DesktopEntryDirectory::maxEntryBytes, '#') + "\n");
  root.write("system/applications/.org.test.Dot.desktop", entry("Dot"));
  root.write("system/applications/notes.txt", "not an entry");

  const auto found = directory.scan();
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[0], (InstalledApplication{"org.test.Calc", "calculator",
                                            home / "applications/org.test.Calc.desktop", "calc-window"}));
  EXPECT_EQ(found[1].bundleId, "kde4-okular");
  EXPECT_EQ(found[2].bundleId, "org.test.Chess");

  // Names in the user's language.
  ::setenv("LANGUAGE", "fr", 1);
  const auto french = directory.scan();
  ::unsetenv("LANGUAGE");
  EXPECT_EQ(french[0].name, "calculatrice");

  EXPECT_EQ(catalog().apps(), (std::vector<AppInfo>{{"org.test.Calc", "calculator", false},
                                                   {"org.test.Chess", "Chess", false},
                                                   {"kde4-okular", "Okular", false}}));

  EXPECT_EQ(directory.locate("kde4-okular"), system / "applications/kde4/okular.desktop");
  EXPECT_EQ(directory.locate("org.test.NoDisplay"), system / "applications/org.test.NoDisplay.desktop");
  for (const char* id : {"org.test.Masked", "org.test.NoExec", "org.test.Missing", "../applications/org.test.Calc", ""}) {
    EXPECT_EQ(directory.locate(id), std::nullopt) << id;
  }
}

TEST_F(DesktopEntryTest, IconsComeFromTheThemeItsParentsHicolorOrPixmaps) {
  glidemate::testing::writeImage(system / "icons/Test/48x48/apps/calc.png", "png", 48, 48);
  glidemate::testing::writeImage(system / "icons/Test/256x256/apps/calc.png", "png", 256, 256);
  glidemate::testing::writeImage(home / "icons/hicolor/scalable/apps/calc.png", "png", 64, 64);
  root.write("system/icons/hicolor/scalable/apps/chess.svg", glidemate::testing::svgImage(64, 64));
  root.write("system/pixmaps/old.xpm",
             "/* XPM */\nstatic char * old[] = {\"2 2 1 1\", \". c #ff0000\", \"..\", \"..\"};\n");
  root.write("system/icons/A/index.theme", "[Icon Theme]\nInherits=B\nDirectories=\n");
  root.write("system/icons/B/index.theme", "[Icon Theme]\nInherits=A\nDirectories=\n");

  struct Case {
    std::string name;
    std::string theme;
    std::optional<std::filesystem::path> file;
  };
  const std::vector<Case> cases{
      // No folder of the size: the closest wins (48 is nearer 64 than 256).
      {"calc", "Test", system / "icons/Test/48x48/apps/calc.png"},
      {"chess", "Test", system / "icons/hicolor/scalable/apps/chess.svg"},
      {"chess", "Absent", system / "icons/hicolor/scalable/apps/chess.svg"},
      {"calc", "hicolor", home / "icons/hicolor/scalable/apps/calc.png"},
      {"old", "Test", system / "pixmaps/old.xpm"},
      {"chess", "A", system / "icons/hicolor/scalable/apps/chess.svg"},
      {"nothing", "A", std::nullopt},
      {"../Test/48x48/apps/calc", "hicolor", std::nullopt},
      {"calc", "../icons/Test", home / "icons/hicolor/scalable/apps/calc.png"},
  };
  for (const auto& c : cases) EXPECT_EQ(icons.find(c.name, c.theme, 64), c.file) << c.name << " in " << c.theme;
}

TEST_F(DesktopEntryTest, EveryIconBecomesASixtyFourPixelPngOrNothing) {
  glidemate::testing::writeImage(system / "icons/Test/48x48/apps/calc.png", "png", 48, 48);
  root.write("system/icons/hicolor/scalable/apps/huge.svg", glidemate::testing::svgImage(20000, 20000));
  root.write("system/pixmaps/old.xpm",
             "/* XPM */\nstatic char * old[] = {\"2 2 1 1\", \". c #ff0000\", \"..\", \"..\"};\n");
  glidemate::testing::writeImage(root / "elsewhere/absolute.png", "png", 128, 128);
  glidemate::testing::writeImage(root / "whole.png", "png", 100, 100, 0x3366cc80);
  std::ifstream whole(root / "whole.png", std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(whole)), std::istreambuf_iterator<char>());
  root.write("system/icons/Test/48x48/apps/truncated.png", bytes.substr(0, bytes.size() / 2));
  root.write("system/icons/Test/48x48/apps/text.png", "this is not an image\n");

  const std::vector<std::pair<std::string, bool>> iconKeys{
      {"calc", true},      {"huge", true},  {"old.xpm", true}, {root.path().string() + "/elsewhere/absolute.png", true},
      {"truncated", false}, {"text", false}, {"missing", false}, {"", false},
  };
  auto catalog = this->catalog();
  for (std::size_t i = 0; i < iconKeys.size(); ++i) {
    const std::string id = "org.test.Icon" + std::to_string(i);
    root.write("system/applications/" + id + ".desktop",
               entry("Icon " + std::to_string(i), "Exec=true\nIcon=" + iconKeys[i].first + "\n"));
  }
  catalog.apps();
  for (std::size_t i = 0; i < iconKeys.size(); ++i) {
    const auto& [key, drawn] = iconKeys[i];
    const auto png = catalog.icon("org.test.Icon" + std::to_string(i));
    ASSERT_EQ(png.has_value(), drawn) << key;
    if (!png) continue;
    const auto image = glidemate::testing::decodeImage(*png);
    ASSERT_TRUE(image) << key;
    EXPECT_EQ(image->format, "png");
    EXPECT_EQ(image->width, 64) << key;
    EXPECT_EQ(image->height, 64) << key;
  }
}

TEST_F(DesktopEntryTest, LaunchingRunsTheEntrysCommandAndLeavesNoChildBehind) {
  const auto fifo = root / "launched";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const auto program = root.write("bin/hello", "#!/bin/sh\necho \"launched $1\" > '" + fifo + "'\n", 0755);
  root.write("system/applications/org.test.Hello.desktop",
             entry("Hello", "Exec=" + program.string() + " --from-menu\n"));
  root.write("system/applications/org.test.Gone.desktop", entry("Gone", "Exec=/nonexistent/glidemate-program\n"));

  asio::io_context io;
  auto catalog = this->catalog();
  GioApplicationLauncher launcher;
  EXPECT_TRUE(runAwaitable(io, catalog.launch("org.test.Hello")));
  std::ifstream said(fifo);
  std::string line;
  std::getline(said, line);
  EXPECT_EQ(line, "launched --from-menu");
  // GLib reaped its go-between; the program itself is not this process's child.
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);

  // GIO takes an entry whose program is missing for no application at all.
  EXPECT_FALSE(runAwaitable(io, catalog.launch("org.test.Gone")));
  EXPECT_THROW(runAwaitable(io, launcher.open(system / "applications/org.test.Gone.desktop")),
               std::runtime_error);
}

}  // namespace
}  // namespace glidemate::host
