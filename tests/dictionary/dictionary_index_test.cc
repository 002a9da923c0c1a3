// The dictionary index reader against files that are not what they should be: not regular
// files, headers with impossible sizes, slot tables damaged into long probe runs, answers that
// run past the answer pool; and the writer's promise that every key it stores can be found.
#include "platform/dictionary/dictionary_index.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <optional>
#include <string>

#include "gtest/gtest.h"

#include "platform/dictionary/dictionary_service.h"
#include "platform/dictionary/dictionary_text.h"
#include "tests/fakes/manual_main_queue.h"

namespace talvori {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Where the header keeps the Chinese table's slots offset, slot count and records offset, and
// the answers size, as dictionary_index.h lays it out.
constexpr std::size_t kChineseSlots = 24;
constexpr std::size_t kChineseSlotCount = 32;
constexpr std::size_t kChineseRecords = 40;
constexpr std::size_t kAnswersSize = 96;

std::uint64_t little(const std::string& bytes, std::size_t at, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = width; i-- > 0;)
    value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

void putLittle(std::string& bytes, std::size_t at, std::uint64_t value, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

// The hash that picks a key's home slot.
std::uint64_t fnv1a(std::string_view key) {
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (const char c : key) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

class DictionaryIndexTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(dir_); }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path write(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_ / name, std::ios::binary | std::ios::trunc) << bytes;
    return dir_ / name;
  }

  std::unique_ptr<DictionaryIndex> open(const std::string& bytes) {
    return DictionaryIndex::open(write("test.index", bytes));
  }

  const fs::path dir_ =
      fs::temp_directory_path() / ("dictionary_index_" + std::to_string(getpid()));
};

// A FIFO, a folder or a device where the index is looked for is passed over at once, and a
// valid index later in the search still answers.
TEST_F(DictionaryIndexTest, PassesOverWhatIsNoRegularFile) {
  const fs::path fifo = dir_ / "fifo.index";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const fs::path valid =
      write("valid.index", encodeDictionaryIndex({{chineseKey("电脑"), "computer"}}, {}));
  EXPECT_EQ(DictionaryIndex::open(dir_), nullptr);
  EXPECT_EQ(DictionaryIndex::open("/dev/zero"), nullptr);

  auto answer = std::async(std::launch::async, [&] {
    testing::ManualMainQueue queue;
    auto service = makeDictionaryService(queue, {fifo, dir_, "/dev/zero", valid});
    std::optional<std::string> result;
    service->makeSession(TranslationConfiguration(Language("zh-Hans"), Language("en")))
        ->translate("电脑", [&](std::optional<std::string> text) { result = text; });
    queue.runAll();
    return result;
  });
  const bool answered = answer.wait_for(20s) == std::future_status::ready;
  // A reader waiting on the FIFO gives up once a writer has come and gone.
  const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
  if (writer >= 0) ::close(writer);
  EXPECT_TRUE(answered) << "stuck opening the FIFO";
  EXPECT_EQ(answer.get(), "computer");
}

TEST_F(DictionaryIndexTest, RefusesHeadersWithImpossibleSizes) {
  const std::string whole =
      encodeDictionaryIndex({{"a", "first"}, {"b", "second"}}, {{"first", "a"}});
  ASSERT_TRUE(open(whole));
  // A slot table laid over the header.
  std::string damaged = whole;
  putLittle(damaged, kChineseSlots, 0, 8);
  EXPECT_EQ(open(damaged), nullptr);
  // Tens of millions of slots, in a file large enough to hold them (sparse, so cheap).
  damaged = whole;
  const std::uint64_t slots = 1ULL << 25;
  const std::uint64_t size = whole.size() + slots * 4;
  putLittle(damaged, kChineseSlots, whole.size(), 8);
  putLittle(damaged, kChineseSlotCount, slots, 8);
  putLittle(damaged, 16, size, 8);
  const fs::path path = write("test.index", damaged);
  fs::resize_file(path, size);
  EXPECT_EQ(DictionaryIndex::open(path), nullptr);
}

// A key many slots past its home, behind a run of slots that all hold other keys (as a damaged
// table full of entries would have), is not looked for: each look-up probes a bounded run.
TEST_F(DictionaryIndexTest, ProbesABoundedRunOfSlots) {
  std::map<std::string, std::string> chinese;
  for (int i = 0; i < 1000; ++i) chinese["k" + std::to_string(i)] = "answer " + std::to_string(i);
  std::string damaged = encodeDictionaryIndex(chinese, {});
  const std::size_t slots = little(damaged, kChineseSlots, 8);
  const std::size_t count = little(damaged, kChineseSlotCount, 8);
  ASSERT_GT(count, kDictionaryIndexProbes + 10);
  const std::size_t records = little(damaged, kChineseRecords, 8);
  // The slot that holds `key`'s record (a record is the key's length, the key, an answer offset).
  const auto slotOf = [&](std::string_view key) {
    for (std::size_t at = fnv1a(key) % count;; at = (at + 1) % count) {
      const std::uint64_t entry = little(damaged, slots + 4 * at, 4);
      if (entry == 0) continue;
      const std::size_t record = records + entry - 1;
      if (static_cast<unsigned char>(damaged[record]) == key.size() &&
          damaged.compare(record + 1, key.size(), key) == 0) {
        return at;
      }
    }
  };
  // "k7" moves to the far end of a run that fills every slot from its home on.
  const std::size_t home = fnv1a("k7") % count;
  const std::uint64_t moved = little(damaged, slots + 4 * slotOf("k7"), 4);
  const std::uint64_t other = little(damaged, slots + 4 * slotOf("k8"), 4);
  for (std::size_t step = 0; step < kDictionaryIndexProbes + 5; ++step) {
    putLittle(damaged, slots + 4 * ((home + step) % count), other, 4);
  }
  putLittle(damaged, slots + 4 * ((home + kDictionaryIndexProbes + 5) % count), moved, 4);
  auto index = open(damaged);
  ASSERT_TRUE(index);
  EXPECT_EQ(index->englishFor("k7"), std::nullopt);
  EXPECT_EQ(index->englishFor("k8"), "answer 8");
}

// Keys that all share one home slot are still all found: the writer gives the table more slots
// rather than put a key beyond the run a look-up probes.
TEST_F(DictionaryIndexTest, EveryKeyWrittenIsFound) {
  const std::size_t keys = kDictionaryIndexProbes + 100;
  std::map<std::string, std::string> plain;
  for (std::size_t i = 0; i < keys; ++i) plain["p" + std::to_string(i)] = "x";
  const std::size_t count = little(encodeDictionaryIndex(plain, {}), kChineseSlotCount, 8);
  std::map<std::string, std::string> colliding;
  for (std::size_t i = 0; colliding.size() < keys; ++i) {
    const std::string key = "c" + std::to_string(i);
    if (fnv1a(key) % count == 0) colliding[key] = "answer " + key;
  }
  auto index = open(encodeDictionaryIndex(colliding, {}));
  ASSERT_TRUE(index);
  for (const auto& [key, answer] : colliding) EXPECT_EQ(index->englishFor(key), answer) << key;
}

// An answer whose length runs past the end of the answer pool is refused, even where the file
// goes on; the answers before it still come.
TEST_F(DictionaryIndexTest, RefusesAnAnswerThatRunsPastThePool) {
  std::string damaged = encodeDictionaryIndex({{"a", "first"}, {"b", "second"}}, {});
  putLittle(damaged, kAnswersSize, little(damaged, kAnswersSize, 8) - 1, 8);
  auto index = open(damaged);
  ASSERT_TRUE(index);
  EXPECT_EQ(index->englishFor("a"), "first");
  EXPECT_EQ(index->englishFor("b"), std::nullopt);
}

}  // namespace
}  // namespace talvori
