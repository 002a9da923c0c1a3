// UTF-8 decoding, validation and repair: the one decoder of the project.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace talvori {

// What decodeUtf8 gives for an ill-formed sequence.
inline constexpr std::int32_t kIllFormed = -1;

// The code point that starts at byte `at` of `text`; `at` advances past it. An ill-formed
// sequence gives kIllFormed and advances past its maximal ill-formed subpart (at least one
// byte), so that each subpart stands for one U+FFFD, as Unicode recommends and ICU does.
// Surrogates, overlong forms and values above U+10FFFF are ill-formed. `at` must be in range.
inline std::int32_t decodeUtf8(std::string_view text, std::size_t& at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) {
    ++at;
    return lead;
  }
  std::size_t length;
  unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
  std::int32_t value;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    ++at;
    return kIllFormed;
  }
  std::size_t k = 1;
  for (; k < length && at + k < text.size(); ++k) {
    const unsigned char b = byte(at + k);
    if (b < (k == 1 ? low : 0x80) || b > (k == 1 ? high : 0xBF)) break;
    value = (value << 6) | (b & 0x3F);
  }
  at += k;
  return k == length ? value : kIllFormed;
}

// The number of code points in `text`, each maximal ill-formed subpart counting as one.
std::size_t countCodePoints(std::string_view text);

// Whether `bytes` is well-formed UTF-8.
bool isValidUtf8(std::string_view bytes);

// Appends `bytes` to `out` with each maximal ill-formed subpart replaced by U+FFFD.
void appendRepairedUtf8(std::string_view bytes, std::string& out);

// `bytes` with ill-formed sequences replaced; moves the input through when it is already valid.
std::string repairUtf8(std::string&& bytes);

// Appends the UTF-8 form of code point `c` (which must be a scalar value) to `out`.
void appendUtf8(char32_t c, std::string& out);

}  // namespace talvori
