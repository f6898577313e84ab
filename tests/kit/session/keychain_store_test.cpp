#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "kit/session/keychain_error.hpp"
#include "kit/session/keychain_store.hpp"
#include "kit/session/xdg/file_keychain.hpp"
#include "tests/support/thrown.hpp"

namespace glidemate {
namespace {

using namespace std::chrono_literals;
using SystemTime = std::chrono::system_clock::time_point;

// 2001-01-01 plus whole and half seconds, so stored dates read back exactly.
SystemTime at(double secondsSince2001) {
  return SystemTime(std::chrono::seconds(978307200)) +
         std::chrono::duration_cast<SystemTime::duration>(std::chrono::duration<double>(secondsSince2001));
}

SymmetricKey keyOf(std::uint8_t fill) { return SymmetricKey(Bytes(32, fill)); }

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/glidemate-keys-XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

class KeychainStoreTest : public ::testing::Test {
 protected:
  TempDir dir;
  FileKeychain files{dir.path()};
  SystemTime now = at(100.5);
  KeychainStore store{KeychainStore::hostService, files, [this] { return now; }};
};

TEST_F(KeychainStoreTest, SavesLoadsAndReplaces) {
  const PairedPeer phone{"PHONE-1", "Ann's phone", at(10), at(20.25)};
  store.save(keyOf(1), phone);
  EXPECT_EQ(store.key("PHONE-1"), keyOf(1));
  EXPECT_EQ(store.peer("PHONE-1"), phone);

  const PairedPeer renamed{"PHONE-1", "Ann", at(30), at(40)};
  store.save(keyOf(2), renamed);
  EXPECT_EQ(store.key("PHONE-1"), keyOf(2));
  EXPECT_EQ(store.allPeers(), std::vector<PairedPeer>{renamed});
  EXPECT_EQ(files.accounts(KeychainStore::hostService).size(), 1u);
}

TEST_F(KeychainStoreTest, ItemDataIsTheDocumentedJson) {
  store.save(keyOf(0xAB), PairedPeer{"P", "N", at(1.5), at(2)});
  const auto data = files.copy(KeychainStore::hostService, "P");
  ASSERT_TRUE(data);
  EXPECT_EQ(std::string(data->begin(), data->end()),
            R"({"peer":{"id":"P","name":"N","pairedAt":1.5,"lastSeen":2.0},"key":")" +
                std::string("q6urq6urq6urq6urq6urq6urq6urq6urq6urq6urq6s=") + R"("})");
}

TEST_F(KeychainStoreTest, MissingOrUnreadableItemsAreAbsent) {
  EXPECT_EQ(store.key("nobody"), std::nullopt);
  EXPECT_TRUE(store.allPeers().empty());
  const std::vector<std::string> notEntries{
      "not json",
      R"({"peer":{"id":"x","name":"y","pairedAt":1,"lastSeen":1}})",
      R"({"peer":{"id":"x","name":"y","pairedAt":1,"lastSeen":1},"key":"AAAA"})",
      R"({"peer":{"id":"x","name":"y","pairedAt":"1","lastSeen":1},"key":"q6urq6urq6urq6urq6urq6urq6urq6urq6urq6urq6s="})",
  };
  for (const auto& text : notEntries) {
    ASSERT_EQ(files.add(KeychainStore::hostService, "x", Bytes(text.begin(), text.end())),
              KeychainStatus::success);
    EXPECT_EQ(store.key("x"), std::nullopt) << text;
    EXPECT_TRUE(store.allPeers().empty()) << text;
    store.remove("x");
  }
}

TEST_F(KeychainStoreTest, AllPeersSortsByCodePoint) {
  for (const char* name : {"b", "a", "C"}) {
    store.save(keyOf(1), PairedPeer{std::string("id-") + name, name, at(1), at(1)});
  }
  std::vector<std::string> names;
  for (const auto& p : store.allPeers()) names.push_back(p.name);
  EXPECT_EQ(names, (std::vector<std::string>{"C", "a", "b"}));
}

TEST_F(KeychainStoreTest, TouchUpdatesLastSeenOnlyForKnownPhones) {
  store.save(keyOf(3), PairedPeer{"P", "N", at(1), at(2)});
  store.touch("P");
  EXPECT_EQ(store.peer("P")->lastSeen, now);
  EXPECT_EQ(store.key("P"), keyOf(3));
  store.touch("stranger");
  EXPECT_EQ(files.accounts(KeychainStore::hostService), std::vector<std::string>{"P"});
}

TEST_F(KeychainStoreTest, RemoveForgetsThePhone) {
  store.save(keyOf(3), PairedPeer{"P", "N", at(1), at(2)});
  store.remove("P");
  store.remove("P");
  EXPECT_EQ(store.peer("P"), std::nullopt);
}

TEST_F(KeychainStoreTest, AccountsNeverBecomePaths) {
  const std::vector<std::string> hostile{"../../etc/passwd", "/abs", "a/b", ".", "..", "é漢"};
  for (const auto& id : hostile) store.save(keyOf(4), PairedPeer{id, "x", at(1), at(1)});
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path())) {
    if (entry.is_directory()) continue;
    EXPECT_EQ(entry.path().parent_path(), dir.path() / KeychainStore::hostService)
        << entry.path();
  }
  for (const auto& id : hostile) EXPECT_EQ(store.key(id), keyOf(4)) << id;
  EXPECT_EQ(store.allPeers().size(), hostile.size());
}

TEST_F(KeychainStoreTest, FilesAndFoldersArePrivate) {
  store.save(keyOf(5), PairedPeer{"P", "N", at(1), at(2)});
  const auto folder = dir.path() / KeychainStore::hostService;
  struct stat info {};
  ASSERT_EQ(stat(folder.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  ASSERT_EQ(stat((folder / "50").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  // No temporary file is left behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder),
                          std::filesystem::directory_iterator()),
            1);
}

TEST_F(KeychainStoreTest, AnInterruptedWriteLeavesThePreviousItem) {
  const PairedPeer phone{"P", "N", at(1), at(2)};
  store.save(keyOf(1), phone);
  // What a crash between writing the new data and renaming it over the item
  // leaves behind: a partial temporary file beside the intact item.
  std::ofstream(dir.path() / KeychainStore::hostService / ".incoming-Zq81xx") << R"({"peer":{"id":)";
  EXPECT_EQ(store.key("P"), keyOf(1));
  EXPECT_EQ(store.allPeers(), std::vector<PairedPeer>{phone});
  store.save(keyOf(2), phone);
  EXPECT_EQ(store.key("P"), keyOf(2));
}

TEST_F(KeychainStoreTest, SaveFailuresCarryTheirStatus) {
  const std::string tooLong(FileKeychain::maxAccountBytes + 1, 'x');
  EXPECT_EQ(testing::thrown<KeychainError>([&] {
              store.save(keyOf(1), PairedPeer{tooLong, "N", at(1), at(1)});
            }),
            KeychainError(KeychainStatus::parameterError));

  // A store whose folder cannot be created.
  std::ofstream(dir.path() / "file") << "x";
  FileKeychain blocked(dir.path() / "file");
  KeychainStore broken(KeychainStore::hostService, blocked);
  const auto error = testing::thrown<KeychainError>(
      [&] { broken.save(keyOf(1), PairedPeer{"P", "N", at(1), at(1)}); });
  ASSERT_TRUE(error);
  EXPECT_NE(error->status(), KeychainStatus::success);
  EXPECT_EQ(broken.allPeers(), std::vector<PairedPeer>{});
}

TEST(KeychainError, DescribesUnknownStatusesByNumber) {
  EXPECT_STREQ(KeychainError(-25293).what(), "Keychain error -25293");
  EXPECT_STRNE(KeychainError(KeychainStatus::diskFull).what(), "Keychain error -34");
}

}  // namespace
}  // namespace glidemate
