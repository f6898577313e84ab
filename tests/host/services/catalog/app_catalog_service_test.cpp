// The catalog's rules over the bundle scan of a temporary folder tree, with
// the running applications and the launcher faked.
#include <gtest/gtest.h>

#include <asio/io_context.hpp>

#include "host/services/catalog/app_catalog_service.hpp"
#include "host/services/catalog/bundle/bundle_directory.hpp"
#include "tests/support/test_images.hpp"
#include "tests/support/run_awaitable.hpp"
#include "tests/support/temp_dir.hpp"

namespace glidemate::host {
namespace {

using glidemate::testing::runAwaitable;
using glidemate::testing::TempDir;

class FakeLauncher final : public ApplicationLauncher {
 public:
  std::vector<std::string> opened;
  bool fail = false;
  asio::awaitable<void> open(const std::string& location) override {
    if (fail) throw std::runtime_error("The file is damaged.");
    opened.push_back(location);
    co_return;
  }
};

class FakeRunning final : public ApplicationSwitcher {
 public:
  std::vector<RunningApplication> running;
  std::vector<std::string> activated, hidden, terminated;
  bool activates = true;
  std::vector<std::string> idsSeenInstalled;

  std::vector<RunningApplication> list(const std::vector<InstalledApplication>& installed) override {
    idsSeenInstalled.clear();
    for (const auto& i : installed) idsSeenInstalled.push_back(i.bundleId);
    return running;
  }
  bool activate(const RunningApplication& a) override {
    activated.push_back(a.bundleId);
    return activates;
  }
  void hide(const RunningApplication& a) override { hidden.push_back(a.bundleId); }
  void terminate(const RunningApplication& a) override { terminated.push_back(a.bundleId); }
};

std::string infoPlist(const std::vector<std::pair<std::string, std::string>>& strings) {
  std::string xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict>)";
  for (const auto& [key, value] : strings) xml += "<key>" + key + "</key><string>" + value + "</string>";
  return xml + "<key>LSMinimumSystemVersion</key><integer>12</integer></dict></plist>\n";
}

class AppCatalogTest : public ::testing::Test {
 protected:
  asio::io_context io;
  TempDir root;
  std::unique_ptr<FakeLauncher> ownLauncher = std::make_unique<FakeLauncher>();
  std::unique_ptr<FakeRunning> ownRunning = std::make_unique<FakeRunning>();
  FakeLauncher& launcher = *ownLauncher;
  FakeRunning& running = *ownRunning;
  AppCatalogService catalog{std::make_unique<BundleDirectory>(std::vector<std::filesystem::path>{
                                root / "home/Applications", root / "Applications", root / "System/Applications"}),
                            std::move(ownLauncher), std::move(ownRunning), "com.larkspurstudios.glidemate"};

  void bundle(const std::string& path, const std::vector<std::pair<std::string, std::string>>& strings) {
    root.write(path + "/Contents/Info.plist", infoPlist(strings));
  }
};

TEST_F(AppCatalogTest, ListsEachBundleOnceByNameWithTheUsersCopyFirst) {
  bundle("home/Applications/Calc.app", {{"CFBundleIdentifier", "com.x.calc"}, {"CFBundleDisplayName", "calculator"}});
  bundle("Applications/Calculator.app", {{"CFBundleIdentifier", "com.x.calc"}, {"CFBundleName", "System Calculator"}});
  bundle("Applications/Games/Chess.app", {{"CFBundleIdentifier", "com.x.chess"}, {"CFBundleName", "Chess"}});
  bundle("Applications/Games/Deeper/Go.app", {{"CFBundleIdentifier", "com.x.go"}, {"CFBundleName", "Go"}});
  bundle("Applications/Plain Thing.app", {{"CFBundleIdentifier", "com.x.plain"}});
  bundle("Applications/No Id.app", {{"CFBundleName", "No Id"}});
  bundle("Applications/Empty Id.app", {{"CFBundleIdentifier", ""}, {"CFBundleName", "Empty"}});
  bundle("Applications/.Hidden.app", {{"CFBundleIdentifier", "com.x.hidden"}});
  root.write("Applications/Broken.app/Contents/Info.plist", "<plist><dict><key>CFBundleIdentifier");
  root.write("Applications/Not a bundle.txt", "text");
  bundle("System/Applications/Mail.app",
         {{"CFBundleIdentifier", "com.x.mail"}, {"CFBundleName", "Mail"}, {"CFBundleDisplayName", "Mail App"}});
  running.running = {{"com.x.chess", true, {}}, {"com.x.elsewhere", true, {}}};

  EXPECT_EQ(catalog.apps(), (std::vector<AppInfo>{
                                {"com.x.calc", "calculator", false},
                                {"com.x.chess", "Chess", true},
                                {"com.x.mail", "Mail App", false},
                                {"com.x.plain", "Plain Thing", false},
                            }));
  EXPECT_EQ(catalog.locations().at("com.x.calc"), root / "home/Applications/Calc.app");
  EXPECT_EQ(catalog.locations().size(), 4u);
  // What is running is told apart with the applications kept, the user's copy among them.
  EXPECT_EQ(running.idsSeenInstalled, (std::vector<std::string>{"com.x.calc", "com.x.chess", "com.x.plain", "com.x.mail"}));
}

TEST_F(AppCatalogTest, LaunchingActivatesWhatRunsAndOpensWhatDoesNot) {
  bundle("Applications/Chess.app", {{"CFBundleIdentifier", "com.x.chess"}});
  bundle("Applications/Mail.app", {{"CFBundleIdentifier", "com.x.mail"}});
  running.running = {{"com.x.chess", true, {}}};
  catalog.apps();

  EXPECT_TRUE(runAwaitable(io, catalog.launch("com.x.chess")));
  running.activates = false;
  EXPECT_FALSE(runAwaitable(io, catalog.launch("com.x.chess")));
  EXPECT_EQ(running.activated, (std::vector<std::string>{"com.x.chess", "com.x.chess"}));

  EXPECT_TRUE(runAwaitable(io, catalog.launch("com.x.mail")));
  EXPECT_EQ(launcher.opened, std::vector<std::string>{root / "Applications/Mail.app"});
  EXPECT_FALSE(runAwaitable(io, catalog.launch("com.x.unknown")));
  launcher.fail = true;
  EXPECT_THROW(runAwaitable(io, catalog.launch("com.x.mail")), std::runtime_error);
}

TEST_F(AppCatalogTest, OnlyOrdinaryApplicationsOtherThanThisOneCanBeHiddenOrQuit) {
  running.running = {{"com.larkspurstudios.glidemate", true, {1}},
                     {"com.x.panel", false, {2}},
                     {"com.x.mail", true, {3, 4}}};
  EXPECT_EQ(catalog.runningApplication("com.larkspurstudios.glidemate"), std::nullopt);
  EXPECT_EQ(catalog.runningApplication("com.x.panel"), std::nullopt);
  EXPECT_EQ(catalog.runningApplication("com.x.absent"), std::nullopt);
  const auto mail = catalog.runningApplication("com.x.mail");
  ASSERT_TRUE(mail);
  EXPECT_EQ(mail->handles, (std::vector<std::uint64_t>{3, 4}));
  catalog.hide(*mail);
  catalog.terminate(*mail);
  EXPECT_EQ(running.hidden, std::vector<std::string>{"com.x.mail"});
  EXPECT_EQ(running.terminated, std::vector<std::string>{"com.x.mail"});
}

TEST_F(AppCatalogTest, IconsAreSquarePngsOfSixtyFourPixels) {
  bundle("Applications/Wide.app", {{"CFBundleIdentifier", "com.x.wide"}, {"CFBundleIconFile", "Wide.png"}});
  glidemate::testing::writeImage(root / "Applications/Wide.app/Contents/Resources/Wide.png", "png", 256, 64);
  bundle("Applications/Tiny.app", {{"CFBundleIdentifier", "com.x.tiny"}, {"CFBundleIconFile", "Tiny.png"}});
  glidemate::testing::writeImage(root / "Applications/Tiny.app/Contents/Resources/Tiny.png", "png", 16, 16);
  bundle("Applications/Text.app", {{"CFBundleIdentifier", "com.x.text"}, {"CFBundleIconFile", "Text.png"}});
  root.write("Applications/Text.app/Contents/Resources/Text.png", "not an image");
  bundle("Applications/Gone.app", {{"CFBundleIdentifier", "com.x.gone"}, {"CFBundleIconFile", "Gone"}});
  catalog.apps();

  for (const char* id : {"com.x.wide", "com.x.tiny"}) {
    const auto png = catalog.icon(id);
    ASSERT_TRUE(png) << id;
    const auto image = glidemate::testing::decodeImage(*png);
    ASSERT_TRUE(image) << id;
    EXPECT_EQ(image->format, "png");
    EXPECT_EQ(image->width, 64);
    EXPECT_EQ(image->height, 64);
    EXPECT_TRUE(image->hasAlpha);
    EXPECT_EQ(image->alphaAt(32, 32), 255) << id;
  }
  // Kept in proportion: the wide icon is a band across the middle, not stretched.
  const auto wide = glidemate::testing::decodeImage(*catalog.icon("com.x.wide"));
  EXPECT_EQ(wide->alphaAt(32, 2), 0);
  EXPECT_EQ(wide->alphaAt(2, 32), 255);
  for (const char* id : {"com.x.text", "com.x.gone", "com.x.unknown"}) EXPECT_EQ(catalog.icon(id), std::nullopt) << id;
}

}  // namespace
}  // namespace glidemate::host
