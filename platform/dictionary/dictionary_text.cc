#include "platform/dictionary/dictionary_text.h"

#include <cstdint>
#include <vector>

#include <unicode/uchar.h>

#include "base/utf8.h"

namespace talvori {

namespace {

// The code points of `text` with widths normalised; empty when `text` is not valid UTF-8.
std::u32string normalisedCodePoints(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    std::int32_t c = decodeUtf8(text, at);
    if (c == kIllFormed) return {};
    if (c >= 0xFF01 && c <= 0xFF5E) c -= 0xFEE0;  // full-width ASCII
    switch (c) {
      case 0x3000:
        c = ' ';
        break;  // ideographic space
      case 0xFF61:
        c = 0x3002;
        break;  // half-width ideographic full stop
      case 0xFF62:
        c = 0x300C;
        break;  // half-width corner brackets
      case 0xFF63:
        c = 0x300D;
        break;
      case 0xFF64:
        c = 0x3001;
        break;  // half-width ideographic comma
      case 0xFF65:
        c = 0x30FB;
        break;  // half-width middle dot
      default:
        break;
    }
    out.push_back(static_cast<char32_t>(c));
  }
  return out;
}

bool isSpace(char32_t c) {
  return c == ' ' || (c >= 0x09 && c <= 0x0D) || c == 0x85 || u_isUWhiteSpace(c);
}

// Punctuation that may surround a selected word without belonging to it. Signs that are part of
// some entries ("%", "+", "#", "&") are not among them.
bool isSurroundingPunctuation(char32_t c) {
  static constexpr std::u32string_view kMarks =
      U".,;:!?\"'()[]{}<>*_`~/\\|-"
      U"。，、；：！？“”‘’「」『』《》〈〉（）【】〔〕〖〗…—–·・～﹁﹂﹃﹄«»‹›";
  return kMarks.find(c) != std::u32string_view::npos;
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
  return toUtf8(key);
}

std::string pluralKey(std::string_view key) {
  std::string plural(key);
  const auto endsWith = [&](std::string_view end) { return key.ends_with(end); };
  if (endsWith("s") || endsWith("x") || endsWith("z") || endsWith("ch") || endsWith("sh")) {
    plural += "es";
  } else if (key.size() > 1 && key.back() == 'y' &&
             std::string_view("aeiou").find(key[key.size() - 2]) == std::string_view::npos) {
    plural.back() = 'i';
    plural += "es";
  } else {
    plural += 's';
  }
  return plural;
}

namespace {

bool isVowel(char c) { return std::string_view("aeiou").find(c) != std::string_view::npos; }

// Whether `word` has one group of vowels, as most words of one syllable.
bool oneSyllable(std::string_view word) {
  int groups = 0;
  for (std::size_t i = 0; i < word.size(); ++i) {
    groups += isVowel(word[i]) && (i == 0 || !isVowel(word[i - 1]));
  }
  return groups == 1;
}

// `key` with its first word given "ing" or "ed" by the rules of regular English verbs.
std::string withVerbEnding(std::string_view key, std::string_view ending) {
  const std::size_t space = key.find(' ');
  std::string word(key.substr(0, space));
  const std::string_view rest = space == std::string_view::npos ? "" : key.substr(space);
  const std::size_t n = word.size();
  const bool ing = ending == "ing";
  if (n < 2) return word + std::string(ending) + std::string(rest);
  if (ing && word.ends_with("ie")) {
    word.replace(n - 2, 2, "y");  // die, dying
  } else if (word.back() == 'e') {
    // save, saving, saved; agree, agreeing, agreed
    if (!ing || !(word.ends_with("ee") || word.ends_with("ye") || word.ends_with("oe"))) {
      word.pop_back();
    }
  } else if (!ing && word.back() == 'y' && !isVowel(word[n - 2])) {
    word.back() = 'i';  // copy, copied
  } else if (n >= 3 && oneSyllable(word) && !isVowel(word[n - 1]) && isVowel(word[n - 2]) &&
             !isVowel(word[n - 3]) &&
             std::string_view("wxy").find(word.back()) == std::string_view::npos) {
    word += word.back();  // stop, stopped; run, running
  }
  return word + std::string(ending) + std::string(rest);
}

}  // namespace

std::string presentParticipleKey(std::string_view key) { return withVerbEnding(key, "ing"); }

std::string pastParticipleKey(std::string_view key) { return withVerbEnding(key, "ed"); }

bool containsHan(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const std::int32_t c = decodeUtf8(text, at);
    if (c != kIllFormed && isHan(static_cast<char32_t>(c))) return true;
  }
  return false;
}

}  // namespace talvori
