#include "platform/dictionary/dictionary_index.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "base/utf8.h"
#include "platform/dictionary/dictionary_text.h"

namespace talvori {

namespace {

// A record gives its key's length in one byte.
static_assert(kLongestDictionaryKey <= 0xFF);

constexpr std::string_view kMagic = "TLVDICT1";
constexpr std::uint32_t kVersion = 1;
constexpr std::size_t kHeaderSize = 8 + 4 + 4 + 8 + 2 * 32 + 16;
// Far beyond any dictionary's need (a table three quarters full of a few hundred thousand keys
// has well under a million slots), and small enough that a damaged count cannot make a table
// of gigabytes.
constexpr std::uint64_t kMostSlots = 1ULL << 24;
// Records and answers are found by 32-bit offsets.
constexpr std::uint64_t kMostAreaSize = 0xFFFFFFFFULL;

std::uint64_t fnv1a(std::string_view key) {
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (const char c : key) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

std::uint64_t readLittle(const unsigned char* at, std::size_t bytes) {
  std::uint64_t value = 0;
  for (std::size_t i = bytes; i-- > 0;) value = (value << 8) | at[i];
  return value;
}

void appendLittle(std::string& out, std::uint64_t value, std::size_t bytes) {
  for (std::size_t i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

void putLittle(std::string& out, std::size_t at, std::uint64_t value, std::size_t bytes) {
  for (std::size_t i = 0; i < bytes; ++i)
    out[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// Whether [offset, offset + length) lies within a file of `size` bytes.
bool inside(std::uint64_t offset, std::uint64_t length, std::size_t size) {
  return offset <= size && length <= size - offset;
}

// Whether an area of a file of `size` bytes lies after the header and inside the file.
bool isArea(std::uint64_t offset, std::uint64_t length, std::size_t size) {
  return offset >= kHeaderSize && inside(offset, length, size);
}

}  // namespace

std::unique_ptr<DictionaryIndex> DictionaryIndex::open(const std::filesystem::path& path) {
  // Without O_NONBLOCK, opening a FIFO would wait for a writer; nothing but a regular file is
  // read, and reading a regular file never waits on that flag.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return nullptr;
  struct stat status;
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) ||
      static_cast<std::uint64_t>(status.st_size) < kHeaderSize) {
    ::close(fd);
    return nullptr;
  }
  // Look-ups read a few scattered bytes; reading ahead around them would only fill the cache.
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
  std::unique_ptr<DictionaryIndex> index(
      new DictionaryIndex(fd, static_cast<std::size_t>(status.st_size)));
  if (!index->readHeader()) return nullptr;
  return index;
}

DictionaryIndex::~DictionaryIndex() { ::close(fd_); }

bool DictionaryIndex::read(std::size_t offset, std::size_t length, unsigned char* out) const {
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = ::pread(fd_, out + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool DictionaryIndex::readHeader() {
  unsigned char header[kHeaderSize];
  if (!read(0, kHeaderSize, header)) return false;
  if (std::memcmp(header, kMagic.data(), kMagic.size()) != 0) return false;
  if (readLittle(header + 8, 4) != kVersion || readLittle(header + 12, 4) != kHeaderSize) {
    return false;
  }
  if (readLittle(header + 16, 8) != size_) return false;
  std::size_t at = 24;
  for (Table* table : {&chinese_, &english_}) {
    const std::uint64_t slots = readLittle(header + at, 8);
    const std::uint64_t slotCount = readLittle(header + at + 8, 8);
    const std::uint64_t records = readLittle(header + at + 16, 8);
    const std::uint64_t recordsSize = readLittle(header + at + 24, 8);
    at += 32;
    if (slotCount == 0 || slotCount > kMostSlots || !isArea(slots, slotCount * 4, size_) ||
        recordsSize > kMostAreaSize || !isArea(records, recordsSize, size_)) {
      return false;
    }
    *table = Table{static_cast<std::size_t>(slots), static_cast<std::size_t>(slotCount),
                   static_cast<std::size_t>(records), static_cast<std::size_t>(recordsSize)};
  }
  const std::uint64_t answers = readLittle(header + at, 8);
  const std::uint64_t answersSize = readLittle(header + at + 8, 8);
  if (answersSize > kMostAreaSize || !isArea(answers, answersSize, size_)) return false;
  answers_ = static_cast<std::size_t>(answers);
  answersSize_ = static_cast<std::size_t>(answersSize);
  return true;
}

std::optional<std::string> DictionaryIndex::find(const Table& table, std::string_view key) const {
  if (key.empty() || key.size() > kLongestDictionaryKey) return std::nullopt;
  std::size_t slot = static_cast<std::size_t>(fnv1a(key) % table.slotCount);
  unsigned char bytes[1 + kLongestDictionaryKey + 4];
  const std::size_t probes = std::min(table.slotCount, kDictionaryIndexProbes);
  for (std::size_t probe = 0; probe < probes;
       ++probe, slot = slot + 1 == table.slotCount ? 0 : slot + 1) {
    if (!read(table.slots + 4 * slot, 4, bytes)) return std::nullopt;
    const std::uint64_t entry = readLittle(bytes, 4);
    if (entry == 0) return std::nullopt;
    // A record is its key's length, the key and an answer offset: read as much as a record of
    // this key's length needs, and compare.
    const std::uint64_t record = entry - 1;
    const std::size_t wanted = 1 + key.size() + 4;
    if (!inside(record, wanted, table.recordsSize) ||
        !read(table.records + record, wanted, bytes)) {
      if (inside(record, 1, table.recordsSize)) continue;  // a shorter key's record, at the end
      return std::nullopt;
    }
    if (bytes[0] != key.size() || std::memcmp(bytes + 1, key.data(), key.size()) != 0) continue;
    const std::uint64_t answer = readLittle(bytes + 1 + key.size(), 4);
    if (!inside(answer, 2, answersSize_) || !read(answers_ + answer, 2, bytes)) {
      return std::nullopt;
    }
    const std::size_t length = static_cast<std::size_t>(readLittle(bytes, 2));
    if (length == 0 || !inside(answer + 2, length, answersSize_)) return std::nullopt;
    std::string text(length, '\0');
    if (!read(answers_ + answer + 2, length, reinterpret_cast<unsigned char*>(text.data())) ||
        !isValidUtf8(text)) {
      return std::nullopt;
    }
    return text;
  }
  return std::nullopt;
}

std::optional<std::string> DictionaryIndex::englishFor(std::string_view chineseKey) const {
  return find(chinese_, chineseKey);
}

std::optional<std::string> DictionaryIndex::chineseFor(std::string_view englishKey) const {
  return find(english_, englishKey);
}

std::string encodeDictionaryIndex(const std::map<std::string, std::string>& chinese,
                                  const std::map<std::string, std::string>& english) {
  // Answers are stored once each, however many keys share them.
  std::string answers;
  std::unordered_map<std::string_view, std::uint32_t> answerAt;
  const auto answerOffset = [&](const std::string& text) {
    const auto [found, added] = answerAt.try_emplace(text, 0);
    if (added) {
      found->second = static_cast<std::uint32_t>(answers.size());
      appendLittle(answers, text.size(), 2);
      answers += text;
    }
    return found->second;
  };

  struct Built {
    std::vector<std::uint32_t> slots;
    std::string records;
  };
  const auto buildTable = [&](const std::map<std::string, std::string>& pairs) {
    std::size_t kept = 0;
    for (const auto& [key, answer] : pairs) {
      kept += !key.empty() && key.size() <= kLongestDictionaryKey && !answer.empty() &&
              answer.size() <= 0xFFFF;
    }
    // At most three quarters full; more slots while a key would land too far from its home.
    for (std::size_t slotCount = kept + kept / 3 + 1;; slotCount += slotCount / 3 + 1) {
      Built built{std::vector<std::uint32_t>(slotCount, 0), {}};
      bool placed = true;
      for (const auto& [key, answer] : pairs) {
        if (key.empty() || key.size() > kLongestDictionaryKey || answer.empty() ||
            answer.size() > 0xFFFF) {
          continue;
        }
        std::size_t slot = static_cast<std::size_t>(fnv1a(key) % slotCount);
        std::size_t probe = 0;
        while (built.slots[slot] != 0 && ++probe < kDictionaryIndexProbes) {
          slot = slot + 1 == slotCount ? 0 : slot + 1;
        }
        if (probe == kDictionaryIndexProbes) {
          placed = false;
          break;
        }
        built.slots[slot] = static_cast<std::uint32_t>(built.records.size() + 1);
        built.records += static_cast<char>(key.size());
        built.records += key;
        appendLittle(built.records, answerOffset(answer), 4);
      }
      if (placed) return built;
    }
  };
  const Built tables[2] = {buildTable(chinese), buildTable(english)};

  std::string out(kHeaderSize, '\0');
  std::memcpy(out.data(), kMagic.data(), kMagic.size());
  putLittle(out, 8, kVersion, 4);
  putLittle(out, 12, kHeaderSize, 4);
  std::size_t at = 24;
  for (const Built& table : tables) {
    while (out.size() % 4 != 0) out += '\0';
    putLittle(out, at, out.size(), 8);
    putLittle(out, at + 8, table.slots.size(), 8);
    for (std::uint32_t slot : table.slots) appendLittle(out, slot, 4);
    putLittle(out, at + 16, out.size(), 8);
    putLittle(out, at + 24, table.records.size(), 8);
    out += table.records;
    at += 32;
  }
  putLittle(out, at, out.size(), 8);
  putLittle(out, at + 8, answers.size(), 8);
  out += answers;
  putLittle(out, 16, out.size(), 8);
  return out;
}

}  // namespace talvori
