#include "base/utf8.h"

#include <cstring>

namespace talvori {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Index of the first byte at or after `i` that is not ASCII, or the size of `text`.
std::size_t skipAscii(std::string_view text, std::size_t i) {
  while (i + 8 <= text.size()) {
    std::uint64_t word;
    std::memcpy(&word, text.data() + i, 8);
    if (word & 0x8080808080808080ULL) break;
    i += 8;
  }
  while (i < text.size() && static_cast<unsigned char>(text[i]) < 0x80) ++i;
  return i;
}

}  // namespace

std::size_t countCodePoints(std::string_view text) {
  std::size_t count = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t ascii = skipAscii(text, i);
    count += ascii - i;
    i = ascii;
    if (i < text.size()) {
      decodeUtf8(text, i);
      ++count;
    }
  }
  return count;
}

bool isValidUtf8(std::string_view bytes) {
  std::size_t i = skipAscii(bytes, 0);
  while (i < bytes.size()) {
    if (decodeUtf8(bytes, i) == kIllFormed) return false;
    i = skipAscii(bytes, i);
  }
  return true;
}

void appendRepairedUtf8(std::string_view bytes, std::string& out) {
  std::size_t done = 0;  // bytes before this index are already in `out`
  std::size_t i = skipAscii(bytes, 0);
  while (i < bytes.size()) {
    const std::size_t start = i;
    if (decodeUtf8(bytes, i) == kIllFormed) {
      out.append(bytes.substr(done, start - done));
      out.append(kReplacement);
      done = i;
    }
    i = skipAscii(bytes, i);
  }
  out.append(bytes.substr(done));
}

std::string repairUtf8(std::string&& bytes) {
  if (isValidUtf8(bytes)) return std::move(bytes);
  std::string repaired;
  repaired.reserve(bytes.size() + 16);
  appendRepairedUtf8(bytes, repaired);
  return repaired;
}

void appendUtf8(char32_t c, std::string& out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace talvori
