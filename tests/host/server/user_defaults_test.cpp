#include "host/server/user_defaults.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>

namespace glidemate::host {
namespace {

class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/glidemate-defaults-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~TempFolder() { std::filesystem::remove_all(path_); }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

std::string contents(const std::filesystem::path& file) {
  std::stringstream text;
  text << std::ifstream(file).rdbuf();
  return text.str();
}

TEST(UserDefaults, KeepsValuesOfEveryKindAcrossRewrites) {
  TempFolder dir;
  std::ofstream(dir / "settings.json") << R"({"hostId":"ABC","window":{"x":3},"count":7})";
  {
    UserDefaults defaults(dir / "settings.json");
    EXPECT_FALSE(defaults.problem());
    EXPECT_EQ(defaults.string("hostId"), "ABC");
    EXPECT_EQ(defaults.boolean("hostId"), std::nullopt);
    defaults.setBoolean("hasSeenWelcome", true);
  }
  UserDefaults reread(dir / "settings.json");
  EXPECT_EQ(reread.boolean("hasSeenWelcome"), true);
  EXPECT_EQ(reread.string("hostId"), "ABC");
  EXPECT_NE(contents(dir / "settings.json").find(R"("window": {)"), std::string::npos);
  EXPECT_NE(contents(dir / "settings.json").find(R"("count": 7)"), std::string::npos);
}

// Settings that cannot be read are reported and never overwritten, so the
// user can mend them; the values set meanwhile still serve this run.
TEST(UserDefaults, UnreadableSettingsAreReportedAndLeftAlone) {
  struct Case {
    const char* name;
    void (*make)(const std::filesystem::path&);
    const char* why;
  };
  const Case cases[] = {
      {"corrupt", [](const std::filesystem::path& f) { std::ofstream(f) << R"({"hostId": "AB)"; },
       "it is not a JSON object"},
      {"not an object", [](const std::filesystem::path& f) { std::ofstream(f) << "[1, 2]"; },
       "it is not a JSON object"},
      {"a folder", [](const std::filesystem::path& f) { std::filesystem::create_directory(f); }, "it is a folder"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder dir;
    const auto file = dir / "settings.json";
    c.make(file);
    const bool folder = std::filesystem::is_directory(file);
    const std::string before = folder ? "" : contents(file);

    UserDefaults defaults(file);
    ASSERT_TRUE(defaults.problem());
    EXPECT_EQ(*defaults.problem(), "cannot read the settings in " + file.string() + " (" + c.why + ")");
    try {
      defaults.setBoolean("hasSeenWelcome", true);
      ADD_FAILURE() << "the unreadable settings were overwritten";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find("left as it is"), std::string::npos) << e.what();
    }
    EXPECT_EQ(defaults.boolean("hasSeenWelcome"), true);
    EXPECT_EQ(std::filesystem::is_directory(file), folder);
    if (!folder) {
      EXPECT_EQ(contents(file), before);
    }
  }
}

TEST(UserDefaults, AnEmptyOrMissingFileIsFreshSettings) {
  TempFolder dir;
  std::ofstream(dir / "empty.json") << "\n";
  for (const char* name : {"empty.json", "missing/settings.json"}) {
    UserDefaults defaults(dir / name);
    EXPECT_FALSE(defaults.problem()) << name;
    defaults.set("hostId", "X");
    EXPECT_EQ(UserDefaults(dir / name).string("hostId"), "X") << name;
  }
}

}  // namespace
}  // namespace glidemate::host
