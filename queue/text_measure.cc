#include "queue/text_measure.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>

#include "base/utf8.h"

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

// One character break iterator per thread, made on first use and kept: making one costs more
// than counting a short text does.
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

// Counts clusters of `text` with ICU, stopping once the count exceeds `limit`. The iterator
// walks UTF-16 faster than it walks UTF-8 through UText, so a window of the text is converted
// first: big enough for any text within the limit. In a longer text the clusters that
// end inside the window are the text's own, so the window settles whether the limit is exceeded
// in all but freak cases (clusters averaging dozens of bytes), which UText then settles over the
// whole text without copying it.
std::size_t countWithIcu(std::string_view text, std::size_t limit) {
  icu::BreakIterator* iterator = characterIterator();
  if (iterator == nullptr) return text.size() > limit ? limit + 1 : text.size();
  auto countFrom = [&] {
    std::size_t count = 0;
    iterator->first();
    while (count <= limit && iterator->next() != icu::BreakIterator::DONE) ++count;
    return count;
  };

  std::string_view head = text;
  const std::size_t window = 64 * (limit + 1);
  if (head.size() > window) {
    std::size_t cut = window;
    while (cut > 0 && (static_cast<unsigned char>(head[cut]) & 0xC0) == 0x80) --cut;
    head = head.substr(0, cut);
  }
  thread_local icu::UnicodeString utf16;
  utf16 = icu::UnicodeString::fromUTF8(
      icu::StringPiece(head.data(), static_cast<int32_t>(head.size())));
  iterator->setText(utf16);
  std::size_t count = countFrom();
  if (head.size() == text.size() || count > limit) return count;

  UErrorCode status = U_ZERO_ERROR;
  UText utext = UTEXT_INITIALIZER;
  utext_openUTF8(&utext, text.data(), static_cast<int64_t>(text.size()), &status);
  if (U_FAILURE(status)) return limit + 1;
  iterator->setText(&utext, status);
  count = countFrom();
  iterator->setText(icu::UnicodeString());  // drop the reference to the caller's bytes
  utext_close(&utext);
  return count;
}

// Break classes whose rules look beyond the two characters at a boundary.
bool needsContext(int kind) {
  switch (kind) {
    case U_GCB_PREPEND:
    case U_GCB_REGIONAL_INDICATOR:
    case U_GCB_L:
    case U_GCB_V:
    case U_GCB_T:
    case U_GCB_LV:
    case U_GCB_LVT:
      return true;
    default:
      return false;
  }
}

// Break class and emoji flag of every BMP character, looked up once from ICU: the per-call
// property functions cost more than the rest of the count.
struct BmpClasses {
  static constexpr uint8_t kPictographic = 0x80;
  uint8_t entries[0x10000];

  BmpClasses() {
    for (UChar32 c = 0; c < 0x10000; ++c) entries[c] = lookup(c);
  }

  static uint8_t lookup(UChar32 c) {
    auto kind = static_cast<uint8_t>(u_getIntPropertyValue(c, UCHAR_GRAPHEME_CLUSTER_BREAK));
    if (u_hasBinaryProperty(c, UCHAR_EXTENDED_PICTOGRAPHIC)) kind |= kPictographic;
    return kind;
  }
};

uint8_t classOf(UChar32 c) {
  static const auto* const table = new BmpClasses();
  return c < 0x10000 ? table->entries[c] : BmpClasses::lookup(c);
}

// Whether 8 bytes starting at `p` are all printable ASCII, each a cluster of its own.
bool printableAscii8(const uint8_t* p) {
  uint64_t word;
  std::memcpy(&word, p, 8);
  // A byte is printable when it is at least 0x20 and below 0x7F.
  const uint64_t high = word & 0x8080808080808080ULL;
  const uint64_t belowSpace = (word - 0x2020202020202020ULL) & ~word & 0x8080808080808080ULL;
  const uint64_t del = ((word ^ 0x7F7F7F7F7F7F7F7FULL) - 0x0101010101010101ULL) &
                       ~(word ^ 0x7F7F7F7F7F7F7F7FULL) & 0x8080808080808080ULL;
  return (high | belowSpace | del) == 0;
}

bool isAscii(std::string_view text) {
  std::size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, text.data() + i, 8);
    if ((word & 0x8080808080808080ULL) != 0) return false;
  }
  for (; i < text.size(); ++i) {
    if (static_cast<unsigned char>(text[i]) >= 0x80) return false;
  }
  return true;
}

// Whether a cluster ends between two characters of the given classes, for classes that need no
// context.
bool breaksBetween(int before, int after) {
  if (before == U_GCB_CR && after == U_GCB_LF) return false;
  if (before == U_GCB_CR || before == U_GCB_LF || before == U_GCB_CONTROL) return true;
  if (after == U_GCB_CR || after == U_GCB_LF || after == U_GCB_CONTROL) return true;
  return !(after == U_GCB_EXTEND || after == U_GCB_ZWJ || after == U_GCB_SPACING_MARK);
}

}  // namespace

bool isBlank(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      if (!isAsciiWhitespace(b)) return false;
      ++i;
      continue;
    }
    const UChar32 c = decodeUtf8(text, i);
    if (c == kIllFormed || !isWhitespace(c)) return false;
  }
  return true;
}

std::size_t countCharacters(std::string_view text, std::size_t limit) {
  // Plain ASCII, the common case, is one cluster per byte except CR LF.
  if (isAscii(text)) {
    const std::size_t n = text.size();
    if (n / 2 > limit) return limit + 1;  // even all CR LF pairs would be too many
    std::size_t pairs = 0;
    // Branch-free: the comparisons are combined as integers.
    for (std::size_t i = 0; i + 1 < n; ++i) {
      pairs +=
          static_cast<std::size_t>(text[i] == '\r') & static_cast<std::size_t>(text[i + 1] == '\n');
    }
    return std::min(n - pairs, limit + 1);
  }
  // Most text needs only the simple rules: CR LF stays together, controls stand alone, and
  // extending marks, ZWJ and spacing marks join what precedes them; everything else breaks.
  // Those are applied here from ICU's per-character properties, which is faster than the break
  // iterator (bench/core/README.md has the figures). At the first character whose rules need
  // context (prepended characters, regional indicators, Hangul jamo, emoji sequences) ICU's
  // iterator takes over from the start of the open cluster, which is a known boundary.
  const auto* s = reinterpret_cast<const uint8_t*>(text.data());
  const auto n = static_cast<int32_t>(text.size());
  std::size_t count = 0;
  int32_t clusterStart = 0;
  int previous = -1;  // break class of the previous character; none at the start
  int32_t i = 0;
  while (i < n) {
    // Runs of printable ASCII: any class breaks before them, and the last one is handled by
    // the next step in case a mark follows it.
    while (i + 8 <= n && count + 8 <= limit && printableAscii8(s + i)) {
      count += 8;
      clusterStart = i + 7;
      previous = U_GCB_OTHER;
      i += 8;
    }
    if (i >= n) break;
    const int32_t start = i;
    int kind;
    if (s[i] < 0x80) {
      const uint8_t b = s[i++];
      kind = b == '\r'           ? U_GCB_CR
             : b == '\n'         ? U_GCB_LF
             : isAsciiControl(b) ? U_GCB_CONTROL
                                 : U_GCB_OTHER;
    } else {
      std::size_t at = static_cast<std::size_t>(i);
      UChar32 c = decodeUtf8(text, at);
      i = static_cast<int32_t>(at);
      if (c == kIllFormed) c = 0xFFFD;
      const uint8_t entry = classOf(c);
      kind = entry & ~BmpClasses::kPictographic;
      if (needsContext(kind) || (entry & BmpClasses::kPictographic) != 0) {
        const std::size_t before = previous < 0 ? 0 : count - 1;
        return before +
               countWithIcu(text.substr(static_cast<std::size_t>(clusterStart)), limit - before);
      }
    }
    if (previous < 0 || breaksBetween(previous, kind)) {
      if (++count > limit) return count;
      clusterStart = start;
    }
    previous = kind;
  }
  return count;
}

}  // namespace talvori
