#include "protocol/utf8.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace talvori {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Length of the well-formed sequence at `i`, or 0 when the bytes there are ill-formed; in that
// case `consumed` is the length of the maximal ill-formed subpart (at least 1).
std::size_t sequenceLength(const unsigned char* s, std::size_t n, std::size_t i,
                           std::size_t& consumed) {
  const unsigned char lead = s[i];
  std::size_t length;
  unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    consumed = 1;
    return 0;
  }
  std::size_t k = 1;
  for (; k < length && i + k < n; ++k) {
    const unsigned char b = s[i + k];
    const unsigned char lo = k == 1 ? low : 0x80;
    const unsigned char hi = k == 1 ? high : 0xBF;
    if (b < lo || b > hi) break;
  }
  if (k == length) return length;
  consumed = k;
  return 0;
}

// Index of the first byte at or after `i` that is not ASCII, or n.
std::size_t skipAscii(const unsigned char* s, std::size_t n, std::size_t i) {
  while (i + 8 <= n) {
    std::uint64_t word;
    std::memcpy(&word, s + i, 8);
    if (word & 0x8080808080808080ULL) break;
    i += 8;
  }
  while (i < n && s[i] < 0x80) ++i;
  return i;
}

}  // namespace

bool isValidUtf8(std::string_view bytes) {
  const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t i = skipAscii(s, n, 0);
  while (i < n) {
    std::size_t consumed = 0;
    const std::size_t length = sequenceLength(s, n, i, consumed);
    if (length == 0) return false;
    i = skipAscii(s, n, i + length);
  }
  return true;
}

void appendRepairedUtf8(std::string_view bytes, std::string& out) {
  const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t done = 0;  // bytes before this index are already in `out`
  std::size_t i = skipAscii(s, n, 0);
  while (i < n) {
    std::size_t consumed = 0;
    const std::size_t length = sequenceLength(s, n, i, consumed);
    if (length == 0) {
      out.append(bytes.substr(done, i - done));
      out.append(kReplacement);
      i += consumed;
      done = i;
    } else {
      i += length;
    }
    i = skipAscii(s, n, i);
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

}  // namespace talvori
