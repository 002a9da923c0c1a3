#include "platform/script_census.h"

#include <unicode/translit.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "protocol/utf8.h"

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

// Tells Simplified-only from Traditional-only Han characters with ICU's Hant-Hans and Hans-Hant
// transliterators: a character that only Hans-Hant changes exists only in Simplified ("电"), one
// that only Hant-Hans changes exists only in Traditional ("電"); the rest are shared. Answers are
// cached per character. Not thread-safe (ICU transliteration mutates state): main thread only.
class HanVariants {
 public:
  enum Variant : uint8_t { kUnknown = 0, kShared, kSimplified, kTraditional };

  Variant classify(UChar32 c) {
    if (c < 0x10000) {
      if (bmp_.empty()) bmp_.resize(0x10000, kUnknown);
      if (bmp_[c] == kUnknown) bmp_[c] = compute(c);
      return static_cast<Variant>(bmp_[c]);
    }
    auto [it, inserted] = supplementary_.try_emplace(c, kUnknown);
    if (inserted) it->second = compute(c);
    return it->second;
  }

 private:
  Variant compute(UChar32 c) {
    if (scriptOf(c) != USCRIPT_HAN) return kShared;
    if (!created_) create();
    if (toSimplified_ == nullptr || toTraditional_ == nullptr) return kShared;
    const bool simplifies = changes(*toSimplified_, c);
    const bool traditionalises = changes(*toTraditional_, c);
    if (simplifies == traditionalises) return kShared;
    return simplifies ? kTraditional : kSimplified;
  }

  void create() {
    created_ = true;
    UErrorCode status = U_ZERO_ERROR;
    toSimplified_.reset(icu::Transliterator::createInstance("Hant-Hans", UTRANS_FORWARD, status));
    if (U_FAILURE(status)) toSimplified_.reset();
    status = U_ZERO_ERROR;
    toTraditional_.reset(icu::Transliterator::createInstance("Hans-Hant", UTRANS_FORWARD, status));
    if (U_FAILURE(status)) toTraditional_.reset();
  }

  static bool changes(icu::Transliterator& transliterator, UChar32 c) {
    const icu::UnicodeString original(c);
    icu::UnicodeString text(original);
    transliterator.transliterate(text);
    return text != original;
  }

  bool created_ = false;
  std::unique_ptr<icu::Transliterator> toSimplified_;
  std::unique_ptr<icu::Transliterator> toTraditional_;
  std::vector<uint8_t> bmp_;
  std::unordered_map<UChar32, Variant> supplementary_;
};

HanVariants& hanVariants() {
  static HanVariants* const variants = new HanVariants;  // never destroyed: outlives all users
  return *variants;
}

// "zh-Hant" when the text holds more Traditional-only than Simplified-only characters. Bopomofo,
// used in Taiwan, counts for Traditional.
std::string chineseVariant(std::string_view text, int bopomofo) {
  HanVariants& variants = hanVariants();
  int simplified = 0;
  int traditional = bopomofo;
  for (size_t i = 0; i < text.size();) {
    const UChar32 c = decodeUtf8(text, i);
    if (c < 0x2E80) continue;  // below the CJK blocks
    switch (variants.classify(c)) {
      case HanVariants::kSimplified:
        ++simplified;
        break;
      case HanVariants::kTraditional:
        ++traditional;
        break;
      default:
        break;
    }
  }
  return traditional > simplified ? "zh-Hant" : "zh-Hans";
}

}  // namespace

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
  const int strongest =
      census.strongest == USCRIPT_INVALID_CODE ? 0 : letters[census.strongest];
  if (eastAsian == 0 || eastAsian < strongest) return std::nullopt;
  // Kana only occurs in Japanese and Hangul only in Korean; Han alone is Chinese.
  if (hangul > kana) return "ko";
  if (kana > 0) return "ja";
  return chineseVariant(text, bopomofo);
}

}  // namespace talvori
