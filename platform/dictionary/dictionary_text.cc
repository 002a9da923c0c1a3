#include "platform/dictionary/dictionary_text.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include "base/utf8.h"

namespace talvori {

namespace {

bool isSpace(char32_t c) {
  return c == ' ' || (c >= 0x09 && c <= 0x0D) || c == 0x85 || u_isUWhiteSpace(c);
}

// Format characters (byte-order mark, zero-width space and joiners, word joiner, soft hyphen)
// and control characters other than white space: invisible, and never part of a word.
bool isInvisible(UChar32 c) {
  const std::int8_t type = u_charType(c);
  return type == U_FORMAT_CHAR || (type == U_CONTROL_CHAR && !isSpace(static_cast<char32_t>(c)));
}

// Whether the compatibility form of `c` means the same: ligatures and the like ("ﬁ"), full-
// and half-width forms, no-break spaces, small and vertical forms. Not superscripts,
// subscripts, fractions, circled or squared forms and font variants, whose compatibility forms
// say something else ("x²" is not "x2").
bool hasSameCompatibilityForm(UChar32 c) {
  switch (u_getIntPropertyValue(c, UCHAR_DECOMPOSITION_TYPE)) {
    case U_DT_COMPAT:
    case U_DT_WIDE:
    case U_DT_NARROW:
    case U_DT_NOBREAK:
    case U_DT_SMALL:
    case U_DT_VERTICAL:
      return true;
    default:
      return false;
  }
}

bool isLetterOrDigit(UChar32 c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
  const std::int8_t type = u_charType(c);
  return (type >= U_UPPERCASE_LETTER && type <= U_OTHER_LETTER) ||
         (type >= U_DECIMAL_DIGIT_NUMBER && type <= U_OTHER_NUMBER);
}

// Punctuation that may surround a selected word without belonging to it. Signs that are part of
// some entries ("%", "+", "#", "&") are not among them.
bool isSurroundingPunctuation(char32_t c) {
  static constexpr std::u32string_view kMarks =
      U".,;:!?\"'()[]{}<>*_`~/\\|-"
      U"。，、；：！？“”‘’「」『』《》〈〉（）【】〔〕〖〗…—–·・～﹁﹂﹃﹄«»‹›";
  return kMarks.find(c) != std::u32string_view::npos;
}

// Whether `text` is longer than any key of kLongestDictionaryKey bytes and a leading article
// could come from: it has no key. Two counts tell, and reading stops as soon as one does:
// - letters and digits: each leaves at least one byte in a key. Normalising drops only invisible
//   characters, folds a letter into one or more, and composes letters only with marks or, for
//   Hangul, jamo into a syllable of as many bytes as jamo; trimming takes only white space and
//   punctuation.
// - every code point that is not invisible, white space or surrounding punctuation (marks and
//   symbols too, which one user-perceived character may hold without limit): composing makes
//   at most four of them one, and nothing else makes them fewer, so more than eight for each
//   byte of the longest key cannot fit.
// Copies nothing.
bool tooLongForAKey(std::string_view text) {
  constexpr std::size_t kMost = kLongestDictionaryKey + std::string_view("the").size();
  if (text.size() <= kMost) return false;
  std::size_t letters = 0;
  std::size_t kept = 0;
  for (std::size_t at = 0; at < text.size();) {
    const std::int32_t c = decodeUtf8(text, at);
    if (c == kIllFormed) continue;
    if (isLetterOrDigit(c) && ++letters > kMost) return true;
    if (!isInvisible(c) && !isSpace(static_cast<char32_t>(c)) &&
        !isSurroundingPunctuation(static_cast<char32_t>(c)) && ++kept > 8 * kMost) {
      return true;
    }
  }
  return false;
}

// The code points of `text` in one normal form: invisible characters dropped, characters whose
// compatibility form means the same replaced by it (NFKC for them alone), and the whole composed
// (NFC: "e" and a combining acute accent become "é"). Empty when `text` is not valid UTF-8.
std::u32string normalisedCodePoints(std::string_view text) {
  if (tooLongForAKey(text)) return {};
  // Printable ASCII is in that form already.
  if (std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; })) {
    return std::u32string(text.begin(), text.end());
  }
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* compatible = icu::Normalizer2::getNFKCInstance(status);
  const icu::Normalizer2* composed = icu::Normalizer2::getNFCInstance(status);
  if (U_FAILURE(status)) return {};
  icu::UnicodeString folded;
  for (std::size_t at = 0; at < text.size();) {
    const std::int32_t c = decodeUtf8(text, at);
    if (c == kIllFormed) return {};
    if (isInvisible(c)) continue;
    if (hasSameCompatibilityForm(c)) {
      folded.append(compatible->normalize(icu::UnicodeString(static_cast<UChar32>(c)), status));
    } else {
      folded.append(static_cast<UChar32>(c));
    }
  }
  const icu::UnicodeString normal = composed->normalize(folded, status);
  if (U_FAILURE(status)) return {};
  std::u32string out;
  out.reserve(static_cast<std::size_t>(normal.length()));
  for (std::int32_t i = 0; i < normal.length(); i = normal.moveIndex32(i, 1)) {
    out.push_back(static_cast<char32_t>(normal.char32At(i)));
  }
  return out;
}

std::u32string_view trimmed(std::u32string_view text) {
  const auto surrounding = [](char32_t c) { return isSpace(c) || isSurroundingPunctuation(c); };
  while (!text.empty() && surrounding(text.front())) text.remove_prefix(1);
  while (!text.empty() && surrounding(text.back())) text.remove_suffix(1);
  return text;
}

std::string toUtf8(std::u32string_view text) {
  std::string out;
  out.reserve(text.size() * 3);
  for (char32_t c : text) appendUtf8(c, out);
  return out;
}

bool isHan(char32_t c) {
  return (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) ||
         (c >= 0xF900 && c <= 0xFAFF) || (c >= 0x20000 && c <= 0x3134F) || c == 0x3007;
}

}  // namespace

std::string chineseKey(std::string_view text) {
  const std::u32string codePoints = normalisedCodePoints(text);
  return toUtf8(trimmed(codePoints));
}

std::string englishKey(std::string_view text) {
  std::u32string codePoints = normalisedCodePoints(text);
  for (char32_t& c : codePoints) {
    if (c == 0x2018 || c == 0x2019) c = '\'';
    c = static_cast<char32_t>(u_tolower(static_cast<UChar32>(c)));
  }
  std::u32string collapsed;
  bool letter = false;
  for (char32_t c : trimmed(codePoints)) {
    if (isSpace(c)) {
      if (!collapsed.empty() && collapsed.back() != ' ') collapsed.push_back(' ');
      continue;
    }
    letter = letter || u_isalpha(static_cast<UChar32>(c));
    collapsed.push_back(c);
  }
  if (!letter) return {};
  std::u32string_view key = collapsed;
  for (std::u32string_view lead : {U"a ", U"an ", U"the "}) {
    if (key.starts_with(lead) && key.size() > lead.size()) {
      key.remove_prefix(lead.size());
      break;
    }
  }
  if (key == U"a" || key == U"an" || key == U"the") return {};
  // "the "Iliad"": a quote after the article surrounds the rest too.
  key = trimmed(key);
  return toUtf8(key);
}

bool containsHan(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const std::int32_t c = decodeUtf8(text, at);
    if (c != kIllFormed && isHan(static_cast<char32_t>(c))) return true;
  }
  return false;
}

bool mayKeyHan(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const std::int32_t c = decodeUtf8(text, at);
    if (c != kIllFormed && c >= 0x2E80) return true;
  }
  return false;
}

}  // namespace talvori
