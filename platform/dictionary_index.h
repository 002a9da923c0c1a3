// DictionaryIndex: the dictionary's answers in one file that the agent maps into memory.
//
// The file holds two hash tables, Chinese key to English and English key to Chinese (keys as
// made by dictionary_text.h), over one pool of answers. Little-endian throughout:
//
//   header   "TLVDICT1", u32 version, u32 header size, u64 file size, then for each table
//            (Chinese, English) u64 slots offset, u64 slot count, u64 records offset, u64 records
//            size, and last u64 answers offset, u64 answers size
//   slots    u32 each: 0 for an empty slot, else 1 + the offset of a record in the records area;
//            a key's home slot is its 64-bit FNV-1a hash modulo the count, and collisions go to
//            the next slots in turn
//   records  u8 key length, key bytes, u32 offset of the answer in the answers area
//   answers  u16 length, UTF-8 bytes
//
// Opening checks the header and that every area lies inside the file; each look-up checks the
// offsets it follows, so a damaged file gives no answer or a wrong one but is never read out of
// bounds. Immutable once open: look-ups may run on any thread.
#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace talvori {

class DictionaryIndex {
 public:
  // The index in the file at `path`, mapped read-only; null when the file is missing, cannot be
  // mapped, or is not a whole index of this version.
  static std::unique_ptr<DictionaryIndex> open(const std::filesystem::path& path);

  ~DictionaryIndex();
  DictionaryIndex(const DictionaryIndex&) = delete;
  DictionaryIndex& operator=(const DictionaryIndex&) = delete;

  // The English filed under a Chinese key, or the Chinese filed under an English key; none when
  // there is none. The view lives as long as the index.
  std::optional<std::string_view> englishFor(std::string_view chineseKey) const;
  std::optional<std::string_view> chineseFor(std::string_view englishKey) const;

  // Lets go of the pages that look-ups have read, so that the agent's resident size does not
  // grow with the index: the file's pages stay in the page cache and are mapped again when
  // read again, so views given out before stay valid and look-ups may go on meanwhile.
  void releasePages() const;

 private:
  struct Table {
    std::size_t slots = 0;
    std::size_t slotCount = 0;
    std::size_t records = 0;
    std::size_t recordsSize = 0;
  };

  DictionaryIndex(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}
  bool readHeader();
  std::optional<std::string_view> find(const Table& table, std::string_view key) const;

  const unsigned char* data_;
  std::size_t size_;
  Table chinese_;
  Table english_;
  std::size_t answers_ = 0;
  std::size_t answersSize_ = 0;
};

// The bytes of an index file holding `chinese` (Chinese key to English) and `english` (English
// key to Chinese). Keys longer than 255 bytes and answers longer than 65,535 bytes are left out.
std::string encodeDictionaryIndex(const std::map<std::string, std::string>& chinese,
                                  const std::map<std::string, std::string>& english);

}  // namespace talvori
