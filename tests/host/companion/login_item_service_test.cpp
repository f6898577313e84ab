#include "host/companion/login_item_service.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "tests/host/companion/temp_folder.hpp"

namespace glidemate::host {
namespace {

std::string contents(const std::filesystem::path& file) {
  std::stringstream text;
  text << std::ifstream(file).rdbuf();
  return text.str();
}

constexpr const char* entry = "[Desktop Entry]\nType=Application\nExec=/usr/bin/glidemate-companion\n";

TEST(LoginItemService, OnWritesTheEntryAndOffRemovesIt) {
  testing::TempFolder dir;
  const auto folder = dir / "config/autostart";
  const auto file = folder / LoginItemService::entryName;
  LoginItemService login(folder, entry);
  EXPECT_FALSE(*login.isEnabled);

  login.setEnabled(true);
  EXPECT_TRUE(*login.isEnabled);
  EXPECT_FALSE(*login.problem);
  EXPECT_EQ(contents(file), entry);
  struct stat info {};
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);
  EXPECT_TRUE(*LoginItemService(folder, entry).isEnabled);

  login.setEnabled(false);
  EXPECT_FALSE(*login.isEnabled);
  EXPECT_FALSE(std::filesystem::exists(file));
  // Turning off what is already off is no failure.
  login.setEnabled(false);
  EXPECT_FALSE(*login.problem);
}

TEST(LoginItemService, AnEntrySwitchedOffInTheDesktopsSettingsIsOff) {
  testing::TempFolder dir;
  for (const char* line : {"Hidden=true", "X-GNOME-Autostart-enabled=false"}) {
    std::ofstream(dir / LoginItemService::entryName) << entry << line << "\n";
    EXPECT_FALSE(*LoginItemService(dir.path(), entry).isEnabled) << line;
  }
}

// A folder that cannot be made shows why, and is still off; once it can
// be made, the problem goes.
TEST(LoginItemService, AFailureIsReportedAndTheNextSuccessClearsIt) {
  testing::TempFolder dir;
  const auto folder = dir / "autostart";
  std::ofstream(folder) << "not a folder";
  LoginItemService login(folder, entry);
  login.setEnabled(true);
  EXPECT_FALSE(*login.isEnabled);
  ASSERT_TRUE(*login.problem);
  const std::string why = **login.problem;
  EXPECT_EQ(why.rfind("Could not create " + folder.string() + ": ", 0), 0u) << why;

  std::filesystem::remove(folder);
  login.setEnabled(true);
  EXPECT_TRUE(*login.isEnabled);
  EXPECT_FALSE(*login.problem);
}

TEST(LoginItemService, TheEntryRunsThisProgram) {
  const std::string tmpl = "[Desktop Entry]\nName=Glidemate Companion\nExec=glidemate-companion\nTerminal=false\n";
  struct Case {
    const char* program;
    const char* exec;
  };
  const Case cases[] = {
      {"/usr/bin/glidemate-companion", "Exec=/usr/bin/glidemate-companion"},
      {"/home/ann/my apps/glidemate-companion", "Exec=\"/home/ann/my apps/glidemate-companion\""},
      {"/opt/100%/$x/glidemate", "Exec=\"/opt/100%%/\\\\$x/glidemate\""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LoginItemService::entryFor(tmpl, c.program),
              "[Desktop Entry]\nName=Glidemate Companion\n" + std::string(c.exec) + "\nTerminal=false\n")
        << c.program;
  }
}

}  // namespace
}  // namespace glidemate::host
