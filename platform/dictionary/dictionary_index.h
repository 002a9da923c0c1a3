// DictionaryIndex: the dictionary's answers in one file, which the agent reads a few bytes at a
// time where a look-up leads, without loading or mapping it whole.
//
// The file holds two hash tables, Chinese key to English and English key to Chinese (keys as
// made by dictionary_text.h), over one pool of answers. Little-endian throughout:
//
//   header   "TLVDICT1", u32 version, u32 header size, u64 file size, then for each table
//            (Chinese, English) u64 slots offset, u64 slot count, u64 records offset, u64 records
//            size, and last u64 answers offset, u64 answers size
//   slots    u32 each: 0 for an empty slot, else 1 + the offset of a record in the records area;
//            a key's home slot is its 64-bit FNV-1a hash modulo the count, and collisions go to
//            the next slots in turn, never kDictionaryIndexProbes or more past the home slot
//   records  u8 key length, key bytes, u32 offset of the answer in the answers area
//   answers  u16 length, UTF-8 bytes
//
// Opening takes regular files only (a FIFO or a device in the index's place is passed over, not
// waited on), and checks the header: every area lies inside the file after the header, and the
// sizes keep within what the format can address. Each look-up checks the offsets it follows and
// probes at most kDictionaryIndexProbes slots, so a damaged file gives no answer or a wrong one,
// quickly, but is never read out of bounds, and a file cut short later only fails look-ups. The
// file is read with pread(2) rather than mapped: its pages then stay in the page cache without
// counting towards the agent's resident size. Look-ups may run on any thread.
#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace talvori {

// How many slots a look-up probes at most, from a key's home slot on; the writer places every
// key within this many.
inline constexpr std::size_t kDictionaryIndexProbes = 512;

class DictionaryIndex {
 public:
  // The index in the file at `path`, kept open; null when the file is missing, cannot be read,
  // or is not a whole index of this version.
  static std::unique_ptr<DictionaryIndex> open(const std::filesystem::path& path);

  ~DictionaryIndex();
  DictionaryIndex(const DictionaryIndex&) = delete;
  DictionaryIndex& operator=(const DictionaryIndex&) = delete;

  // The English filed under a Chinese key, or the Chinese filed under an English key; none when
  // there is none or the file cannot be read.
  std::optional<std::string> englishFor(std::string_view chineseKey) const;
  std::optional<std::string> chineseFor(std::string_view englishKey) const;

 private:
  struct Table {
    std::size_t slots = 0;
    std::size_t slotCount = 0;
    std::size_t records = 0;
    std::size_t recordsSize = 0;
  };

  DictionaryIndex(int fd, std::size_t size) : fd_(fd), size_(size) {}
  bool readHeader();
  // Reads `length` bytes at `offset` into `out`; false unless all of them were read.
  bool read(std::size_t offset, std::size_t length, unsigned char* out) const;
  std::optional<std::string> find(const Table& table, std::string_view key) const;

  const int fd_;
  const std::size_t size_;
  Table chinese_;
  Table english_;
  std::size_t answers_ = 0;
  std::size_t answersSize_ = 0;
};

// The bytes of an index file holding `chinese` (Chinese key to English) and `english` (English
// key to Chinese). Keys longer than kLongestDictionaryKey (dictionary_text.h) and answers longer
// than 65,535 bytes are left out.
// A table whose collisions would put a key too far from its home slot is given more slots.
std::string encodeDictionaryIndex(const std::map<std::string, std::string>& chinese,
                                  const std::map<std::string, std::string>& english);

}  // namespace talvori
