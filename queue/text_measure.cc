#include "queue/text_measure.h"

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <cstdint>
#include <memory>

namespace talvori {

namespace {

bool isAsciiWhitespace(unsigned char c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }

bool isWhitespace(UChar32 c) {
  if (c < 0x80) return isAsciiWhitespace(static_cast<unsigned char>(c));
  if (c == 0x85) return true;
  const auto mask = U_GET_GC_MASK(c);
  return (mask & (U_GC_ZS_MASK | U_GC_ZL_MASK | U_GC_ZP_MASK)) != 0;
}

// ASCII controls end a grapheme cluster whatever follows them, so they never join a
// following combining mark.
bool isAsciiControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

// One character break iterator per thread, made on first use; creating one costs far more than
// a whole count.
icu::BreakIterator* characterIterator() {
  thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> made(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status)) made.reset();
    return made;
  }();
  return iterator.get();
}

// Counts clusters of `text` with ICU, stopping once the count exceeds `limit`.
std::size_t countWithIcu(std::string_view text, std::size_t limit) {
  icu::BreakIterator* iterator = characterIterator();
  if (iterator == nullptr) return text.size() > limit ? limit + 1 : text.size();
  UErrorCode status = U_ZERO_ERROR;
  UText utext = UTEXT_INITIALIZER;
  utext_openUTF8(&utext, text.data(), static_cast<int64_t>(text.size()), &status);
  if (U_FAILURE(status)) return text.size() > limit ? limit + 1 : text.size();
  iterator->setText(&utext, status);
  std::size_t count = 0;
  iterator->first();
  while (count <= limit && iterator->next() != icu::BreakIterator::DONE) ++count;
  // Drop the iterator's reference to the caller's bytes.
  iterator->setText(icu::UnicodeString());
  utext_close(&utext);
  return count;
}

}  // namespace

bool isBlank(std::string_view text) {
  const auto* s = reinterpret_cast<const uint8_t*>(text.data());
  const auto n = static_cast<int32_t>(text.size());
  int32_t i = 0;
  while (i < n) {
    if (s[i] < 0x80) {
      if (!isAsciiWhitespace(s[i])) return false;
      ++i;
      continue;
    }
    UChar32 c;
    U8_NEXT(s, i, n, c);
    if (c < 0 || !isWhitespace(c)) return false;
  }
  return true;
}

std::size_t countCharacters(std::string_view text, std::size_t limit) {
  // Plain ASCII is counted directly: every character is a cluster of its own except CR LF. A
  // character directly before non-ASCII may join what follows, so ICU takes over from there.
  const std::size_t n = text.size();
  std::size_t count = 0;
  std::size_t i = 0;
  while (i < n) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) break;
    const std::size_t next = (c == '\r' && i + 1 < n && text[i + 1] == '\n') ? i + 2 : i + 1;
    if (next < n && static_cast<unsigned char>(text[next]) >= 0x80 && !isAsciiControl(c)) break;
    if (++count > limit) return count;
    i = next;
  }
  if (i == n) return count;
  return count + countWithIcu(text.substr(i), limit - count);
}

}  // namespace talvori
