#include "platform/dictionary_index.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "protocol/utf8.h"

namespace talvori {

namespace {

constexpr std::string_view kMagic = "TLVDICT1";
constexpr std::uint32_t kVersion = 1;
constexpr std::size_t kHeaderSize = 8 + 4 + 4 + 8 + 2 * 32 + 16;

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
  for (std::size_t i = 0; i < bytes; ++i) out[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// Whether [offset, offset + length) lies within a file of `size` bytes.
bool inside(std::uint64_t offset, std::uint64_t length, std::size_t size) {
  return offset <= size && length <= size - offset;
}

}  // namespace

std::unique_ptr<DictionaryIndex> DictionaryIndex::open(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat status;
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) ||
      static_cast<std::uint64_t>(status.st_size) < kHeaderSize) {
    ::close(fd);
    return nullptr;
  }
  const auto size = static_cast<std::size_t>(status.st_size);
  void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  ::close(fd);
  if (mapped == MAP_FAILED) return nullptr;
  // Look-ups touch a few scattered pages; reading ahead around them would only fill the cache.
  ::madvise(mapped, size, MADV_RANDOM);
  std::unique_ptr<DictionaryIndex> index(
      new DictionaryIndex(static_cast<const unsigned char*>(mapped), size));
  if (!index->readHeader()) return nullptr;
  return index;
}

DictionaryIndex::~DictionaryIndex() {
  ::munmap(const_cast<unsigned char*>(data_), size_);
}

bool DictionaryIndex::readHeader() {
  if (std::memcmp(data_, kMagic.data(), kMagic.size()) != 0) return false;
  if (readLittle(data_ + 8, 4) != kVersion || readLittle(data_ + 12, 4) != kHeaderSize) {
    return false;
  }
  if (readLittle(data_ + 16, 8) != size_) return false;
  std::size_t at = 24;
  for (Table* table : {&chinese_, &english_}) {
    const std::uint64_t slots = readLittle(data_ + at, 8);
    const std::uint64_t slotCount = readLittle(data_ + at + 8, 8);
    const std::uint64_t records = readLittle(data_ + at + 16, 8);
    const std::uint64_t recordsSize = readLittle(data_ + at + 24, 8);
    at += 32;
    if (slotCount == 0 || slotCount > (1ULL << 30) ||
        !inside(slots, slotCount * 4, size_) || !inside(records, recordsSize, size_)) {
      return false;
    }
    *table = Table{static_cast<std::size_t>(slots), static_cast<std::size_t>(slotCount),
                   static_cast<std::size_t>(records), static_cast<std::size_t>(recordsSize)};
  }
  const std::uint64_t answers = readLittle(data_ + at, 8);
  const std::uint64_t answersSize = readLittle(data_ + at + 8, 8);
  if (!inside(answers, answersSize, size_)) return false;
  answers_ = static_cast<std::size_t>(answers);
  answersSize_ = static_cast<std::size_t>(answersSize);
  return true;
}

std::optional<std::string_view> DictionaryIndex::find(const Table& table,
                                                      std::string_view key) const {
  if (key.empty() || key.size() > 255) return std::nullopt;
  std::size_t slot = static_cast<std::size_t>(fnv1a(key) % table.slotCount);
  for (std::size_t probe = 0; probe < table.slotCount;
       ++probe, slot = slot + 1 == table.slotCount ? 0 : slot + 1) {
    const std::uint64_t entry = readLittle(data_ + table.slots + 4 * slot, 4);
    if (entry == 0) return std::nullopt;
    const std::uint64_t record = entry - 1;
    if (!inside(record, 1, table.recordsSize)) return std::nullopt;
    const unsigned char* at = data_ + table.records + record;
    const std::size_t keyLength = at[0];
    if (!inside(record + 1, keyLength + 4, table.recordsSize)) return std::nullopt;
    if (keyLength != key.size() || std::memcmp(at + 1, key.data(), keyLength) != 0) continue;
    const std::uint64_t answer = readLittle(at + 1 + keyLength, 4);
    if (!inside(answer, 2, answersSize_)) return std::nullopt;
    const std::size_t length = static_cast<std::size_t>(readLittle(data_ + answers_ + answer, 2));
    if (length == 0 || !inside(answer + 2, length, answersSize_)) return std::nullopt;
    const std::string_view text(reinterpret_cast<const char*>(data_ + answers_ + answer + 2),
                                length);
    if (!isValidUtf8(text)) return std::nullopt;
    return text;
  }
  return std::nullopt;
}

void DictionaryIndex::releasePages() const {
  ::madvise(const_cast<unsigned char*>(data_), size_, MADV_DONTNEED);
}

std::optional<std::string_view> DictionaryIndex::englishFor(std::string_view chineseKey) const {
  return find(chinese_, chineseKey);
}

std::optional<std::string_view> DictionaryIndex::chineseFor(std::string_view englishKey) const {
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
      kept += !key.empty() && key.size() <= 255 && !answer.empty() && answer.size() <= 0xFFFF;
    }
    const std::size_t slotCount = kept + kept / 3 + 1;  // at most three quarters full
    Built built{std::vector<std::uint32_t>(slotCount, 0), {}};
    for (const auto& [key, answer] : pairs) {
      if (key.empty() || key.size() > 255 || answer.empty() || answer.size() > 0xFFFF) continue;
      std::size_t slot = static_cast<std::size_t>(fnv1a(key) % slotCount);
      while (built.slots[slot] != 0) slot = slot + 1 == slotCount ? 0 : slot + 1;
      built.slots[slot] = static_cast<std::uint32_t>(built.records.size() + 1);
      built.records += static_cast<char>(key.size());
      built.records += key;
      appendLittle(built.records, answerOffset(answer), 4);
    }
    return built;
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
