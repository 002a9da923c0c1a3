#include "platform/recogniser/script_census.h"

#include <cstdint>

#include <unicode/uchar.h>

#include "base/utf8.h"
#include "platform/recogniser/han_variants.h"

namespace talvori {
namespace {

// When scripts compete in a mixed text, one East Asian character (an ideograph, a kana or a Hangul
// syllable) weighs as much as this many alphabetic letters: it carries about a syllable or a
// morpheme, as a short run of letters does, and it is also its UTF-8 length, the unit CLD2 weighs
// languages by. So "我买了一台iPhone手机" stays Chinese and "I left my 电脑 at the office" English.
constexpr int kEastAsianWeight = 3;

bool isAsciiLetter(uint8_t byte) { return (byte | 0x20) >= 'a' && (byte | 0x20) <= 'z'; }

// The script a letter counts for. Letters shared between scripts count for the East Asian script
// they serve: the prolonged sound mark "ー" is kana, the iteration mark "々" is Han.
UScriptCode scriptOf(UChar32 c) {
  UErrorCode status = U_ZERO_ERROR;
  const UScriptCode script = uscript_getScript(c, &status);
  if (U_FAILURE(status)) return USCRIPT_COMMON;
  if (script == USCRIPT_COMMON || script == USCRIPT_INHERITED) {
    if (uscript_hasScript(c, USCRIPT_KATAKANA) || uscript_hasScript(c, USCRIPT_HIRAGANA)) {
      return USCRIPT_KATAKANA;
    }
    if (uscript_hasScript(c, USCRIPT_HAN)) return USCRIPT_HAN;
  }
  return script;
}

bool isEastAsian(int script) {
  return script == USCRIPT_HAN || script == USCRIPT_HIRAGANA || script == USCRIPT_KATAKANA ||
         script == USCRIPT_HANGUL || script == USCRIPT_BOPOMOFO;
}

// "zh-Hant" when the text holds more Traditional-only than Simplified-only characters. Bopomofo,
// used in Taiwan, counts for Traditional.
std::string chineseVariant(std::string_view text, int bopomofo) {
  int simplified = 0;
  int traditional = bopomofo;
  for (size_t i = 0; i < text.size();) {
    const UChar32 c = decodeUtf8(text, i);
    if (c < 0x2E80) continue;  // below the CJK blocks
    switch (hanVariant(static_cast<char32_t>(c))) {
      case HanVariant::simplified:
        ++simplified;
        break;
      case HanVariant::traditional:
        ++traditional;
        break;
      default:
        break;
    }
  }
  return traditional > simplified ? "zh-Hant" : "zh-Hans";
}

// ĉ ĝ ĥ ĵ ŝ ŭ and their capitals: Ĉĉ U+0108/9, Ĝĝ U+011C/D, Ĥĥ U+0124/5, Ĵĵ U+0134/5,
// Ŝŝ U+015C/D, Ŭŭ U+016C/D.
bool isEsperantoLetter(UChar32 c) {
  switch (c | 1) {
    case 0x109:
    case 0x11D:
    case 0x125:
    case 0x135:
    case 0x15D:
    case 0x16D:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::optional<std::string> languageOfOwnLetters(const ScriptCensus& census) {
  const int esperanto = census.esperantoLetters;
  if (esperanto > 0 && esperanto * 50 >= census.letters[USCRIPT_LATIN]) return "eo";
  return std::nullopt;
}

bool isInterchangeable(char32_t c) {
  if (c < 0x20) return c == '\t' || c == '\n' || c == '\f' || c == '\r';
  if (c >= 0x7F && c < 0xA0) return false;
  return !U_IS_UNICODE_NONCHAR(c);
}

ScriptCensus takeScriptCensus(std::string_view text) {
  ScriptCensus census;
  for (size_t i = 0; i < text.size();) {
    const auto byte = static_cast<uint8_t>(text[i]);
    if (byte < 0x80) {  // the common case, without table look-ups
      ++i;
      if (isAsciiLetter(byte)) {
        ++census.letters[USCRIPT_LATIN];
      } else if (!isInterchangeable(byte)) {
        census.needsCleaning = true;
      }
      continue;
    }
    const UChar32 c = decodeUtf8(text, i);
    if (c == kIllFormed || !isInterchangeable(static_cast<char32_t>(c))) {
      census.needsCleaning = true;
    } else if (u_isalpha(c)) {
      const UScriptCode script = scriptOf(c);
      if (script >= 0 && script < USCRIPT_CODE_LIMIT) ++census.letters[script];
      census.esperantoLetters += isEsperantoLetter(c);
    }
  }
  int strongestLetters = 0;
  for (int script = 0; script < USCRIPT_CODE_LIMIT; ++script) {
    census.hasLetters |= census.letters[script] > 0;
    if (!isEastAsian(script) && census.letters[script] > strongestLetters) {
      census.strongest = static_cast<UScriptCode>(script);
      strongestLetters = census.letters[script];
    }
  }
  return census;
}

std::optional<std::string> eastAsianLanguage(std::string_view text, const ScriptCensus& census) {
  const auto& letters = census.letters;
  const int han = letters[USCRIPT_HAN];
  const int kana = letters[USCRIPT_HIRAGANA] + letters[USCRIPT_KATAKANA];
  const int hangul = letters[USCRIPT_HANGUL];
  const int bopomofo = letters[USCRIPT_BOPOMOFO];
  const int64_t eastAsian = int64_t{han + kana + hangul + bopomofo} * kEastAsianWeight;
  const int strongest = census.strongest == USCRIPT_INVALID_CODE ? 0 : letters[census.strongest];
  if (eastAsian == 0 || eastAsian < strongest) return std::nullopt;
  // Kana only occurs in Japanese and Hangul only in Korean; Han alone is Chinese.
  if (hangul > kana) return "ko";
  if (kana > 0) return "ja";
  return chineseVariant(text, bopomofo);
}

}  // namespace talvori
