// Counts the freed blocks that still hold a stored key's text (its Base64,
// as the item holds it) while the key store works on that key. The program
// replaces the global allocation functions to see every free, so it runs on
// its own.
#include <gtest/gtest.h>
#include <malloc.h>
#include <string.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <new>

#include "kit/session/base64.hpp"
#include "kit/session/keychain_store.hpp"
#include "kit/session/secret_json.hpp"
#include "kit/session/xdg/file_keychain.hpp"

namespace {

std::atomic<bool> watching{false};
std::atomic<int> blocksWithKeyText{0};
// A prefix is enough: a buffer that grew while the text was read holds
// part of it.
constexpr std::size_t needleLength = 16;
char needle[needleLength] = {};

void inspect(void* block) {
  if (block == nullptr || !watching.load()) return;
  if (memmem(block, malloc_usable_size(block), needle, needleLength) != nullptr) ++blocksWithKeyText;
}

}  // namespace

// Every form, so that what one form allocates another may free (the
// sanitizers check that allocation and release match).
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size == 0 ? 1 : size); }
void* operator new(std::size_t size) {
  if (void* block = operator new(size, std::nothrow)) return block;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, std::align_val_t alignment) {
  const auto a = static_cast<std::size_t>(alignment);
  if (void* block = std::aligned_alloc(a, (size + a - 1) / a * a)) return block;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return operator new(size, std::nothrow); }
void* operator new[](std::size_t size, std::align_val_t alignment) { return operator new(size, alignment); }
void operator delete(void* block) noexcept {
  inspect(block);
  std::free(block);
}
void operator delete[](void* block) noexcept { operator delete(block); }
void operator delete(void* block, std::size_t) noexcept { operator delete(block); }
void operator delete[](void* block, std::size_t) noexcept { operator delete(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { operator delete(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { operator delete(block); }
void operator delete(void* block, std::align_val_t) noexcept { operator delete(block); }
void operator delete[](void* block, std::align_val_t) noexcept { operator delete(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { operator delete(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept { operator delete(block); }

namespace glidemate {
namespace {

int keyTextLeftBehindBy(const std::function<void()>& work) {
  blocksWithKeyText = 0;
  watching = true;
  work();
  watching = false;
  return blocksWithKeyText.load();
}

// The JSON library's lexer keeps the raw characters of each token in a
// buffer of its own, out of reach of any allocator we choose; lookups may
// leave what it leaves, and nothing more.
TEST(KeyTextWiping, TheKeyStoreLeavesNoCopyOfAKeysTextInFreedMemory) {
  char pattern[] = "/tmp/glidemate-wipe-XXXXXX";
  const std::filesystem::path dir = mkdtemp(pattern);
  {
    FileKeychain files(dir);
    KeychainStore store(KeychainStore::hostService, files);
    Bytes raw;
    for (int i = 0; i < 32; ++i) raw.push_back(static_cast<std::uint8_t>(7 * i + 3));
    const SymmetricKey key(raw);
    Base64::encode(key.view()).copy(needle, needleLength);
    const auto now = std::chrono::system_clock::now();
    const PairedPeer phone{"PHONE-1", "Ann", now, now};

    EXPECT_EQ(keyTextLeftBehindBy([&] { store.save(key, phone); }), 0);

    const auto item = files.copy(KeychainStore::hostService, "PHONE-1");
    ASSERT_TRUE(item);
    const int parserOwn = keyTextLeftBehindBy([&] {
      const auto document = SecretJson::parse(item->begin(), item->end());
      ASSERT_TRUE(document.contains("key"));
    });
    std::optional<SymmetricKey> found;
    EXPECT_EQ(keyTextLeftBehindBy([&] { found = store.key("PHONE-1"); }), parserOwn);
    EXPECT_EQ(keyTextLeftBehindBy([&] { store.touch("PHONE-1"); }), parserOwn);
    EXPECT_EQ(keyTextLeftBehindBy([&] { EXPECT_EQ(store.allPeers().size(), 1u); }), parserOwn);
    ASSERT_TRUE(found);
    EXPECT_TRUE(*found == key);
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace glidemate
