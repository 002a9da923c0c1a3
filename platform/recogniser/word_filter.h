// A compact, read-only word set per language: a blocked Bloom filter over the word forms of the
// language's spelling dictionary, built at build time by tools/make_word_filters.cc.
//
// A word in the set is always found; a word outside it is found with a small probability (under
// 1% at the sizes used), which the recogniser treats as the occasional rare word. Each look-up
// reads one 64-byte block, so it stays cheap however large the set.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

namespace talvori {

class WordFilter {
 public:
  static constexpr size_t kBlockBytes = 64;
  static constexpr unsigned kBitsPerProbe = 9;  // a position in a 512-bit block

  // `blocks` points at `count` blocks of kBlockBytes; each word sets `probes` bits of one block.
  constexpr WordFilter(const unsigned char* blocks, uint64_t count, unsigned probes)
      : blocks_(blocks), count_(count), probes_(probes) {}

  bool contains(std::string_view word) const {
    if (count_ == 0 || word.empty()) return false;
    const uint64_t h = hash(word);
    const unsigned char* block = blocks_ + blockOf(h, count_) * kBlockBytes;
    uint64_t positions = mix(h);
    for (unsigned i = 0; i < probes_; ++i, positions >>= kBitsPerProbe) {
      const unsigned bit = positions & 511;
      if ((block[bit >> 3] & (1u << (bit & 7))) == 0) return false;
    }
    return true;
  }

  // The word's hash, the block it falls in, and the probe positions, shared with the builder.
  static uint64_t hash(std::string_view word) {
    uint64_t h = 0xcbf29ce484222325ULL;  // FNV-1a
    for (char c : word) {
      h ^= static_cast<unsigned char>(c);
      h *= 0x100000001b3ULL;
    }
    return mix(h ^ word.size());
  }
  static uint64_t mix(uint64_t x) {  // splitmix64's finaliser
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ULL;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
  }
  static uint64_t blockOf(uint64_t h, uint64_t count) {
    return static_cast<uint64_t>((static_cast<unsigned __int128>(h >> 32) * count) >> 32);
  }

 private:
  const unsigned char* blocks_;
  uint64_t count_;
  unsigned probes_;
};

// The layout of the file the builder writes: a header, one entry per language, then the blocks
// of each filter, each filter starting on a block boundary.
struct WordFilterHeader {
  char magic[8];  // "TVWORDS1"
  uint32_t languages;
  uint32_t reserved;
};
struct WordFilterEntry {
  char language[8];  // BCP 47, zero-padded
  uint64_t offset;   // of the first block, from the start of the file
  uint64_t blocks;
  uint32_t probes;
  uint32_t words;  // distinct forms in the set
};
inline constexpr char kWordFilterMagic[8] = {'T', 'V', 'W', 'O', 'R', 'D', 'S', '1'};

// The filter of `language` in `data` (a file as the builder wrote it), none if absent.
inline std::optional<WordFilter> findWordFilter(std::string_view data, std::string_view language) {
  WordFilterHeader header;
  if (data.size() < sizeof header) return std::nullopt;
  std::memcpy(&header, data.data(), sizeof header);
  if (std::memcmp(header.magic, kWordFilterMagic, sizeof header.magic) != 0) return std::nullopt;
  for (uint32_t i = 0; i < header.languages; ++i) {
    WordFilterEntry entry;
    const size_t at = sizeof header + i * sizeof entry;
    if (data.size() < at + sizeof entry) return std::nullopt;
    std::memcpy(&entry, data.data() + at, sizeof entry);
    if (std::string_view(entry.language, strnlen(entry.language, sizeof entry.language)) !=
        language) {
      continue;
    }
    if (entry.offset + entry.blocks * WordFilter::kBlockBytes > data.size()) return std::nullopt;
    return WordFilter(reinterpret_cast<const unsigned char*>(data.data()) + entry.offset,
                      entry.blocks, entry.probes);
  }
  return std::nullopt;
}

}  // namespace talvori
