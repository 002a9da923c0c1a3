#include "platform/recogniser.h"

#include <unicode/translit.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/uscript.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>  // compact_lang_det.h uses FILE without including its header.
#include <cstring>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "cld2/public/compact_lang_det.h"
#include "platform/latin_profiles.h"
#include "protocol/utf8.h"

namespace talvori {
namespace {

// When scripts compete in a mixed text, one East Asian character (an ideograph, a kana or a Hangul
// syllable) weighs as much as this many alphabetic letters: it carries about a syllable or a
// morpheme, as a short run of letters does. It is also its UTF-8 length, the unit CLD2 weighs
// languages by. So "我买了一台iPhone手机" stays Chinese and "I left my 电脑 at the office" stays
// English.
constexpr int kEastAsianWeight = 3;

// Whether CLD2 accepts `c` in text: it stops at control characters (other than tab, line feed,
// form feed and carriage return) and at noncharacters, and answers for the prefix before them.
bool isInterchangeable(UChar32 c) {
  if (c < 0x20) return c == '\t' || c == '\n' || c == '\f' || c == '\r';
  if (c >= 0x7F && c < 0xA0) return false;
  return !U_IS_UNICODE_NONCHAR(c);
}

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

// Calls `visit(c, begin, end)` for each code point of `text` with its byte range; an invalid
// sequence gives kIllFormed.
template <typename Visit>
void forEachCodePoint(std::string_view text, Visit&& visit) {
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t begin = i;
    const UChar32 c = decodeUtf8(text, i);
    visit(c, begin, i);
  }
}

// Letters of one text counted by script.
struct ScriptCounts {
  std::array<int, USCRIPT_CODE_LIMIT> letters{};
  bool hasLetters = false;
  bool needsCleaning = false;  // holds invalid UTF-8 or characters CLD2 stops at
};

ScriptCounts countScripts(std::string_view text) {
  ScriptCounts counts;
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<uint8_t>(text[i]);
    if (byte < 0x80) {  // the common case, without table look-ups
      ++i;
      if (isAsciiLetter(byte)) {
        ++counts.letters[USCRIPT_LATIN];
      } else if (!isInterchangeable(byte)) {
        counts.needsCleaning = true;
      }
      continue;
    }
    const UChar32 c = decodeUtf8(text, i);
    if (c == kIllFormed || !isInterchangeable(c)) {
      counts.needsCleaning = true;
    } else if (u_isalpha(c)) {
      const UScriptCode script = scriptOf(c);
      if (script >= 0 && script < USCRIPT_CODE_LIMIT) ++counts.letters[script];
    }
  }
  for (int n : counts.letters) counts.hasLetters |= n > 0;
  return counts;
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
  forEachCodePoint(text, [&](UChar32 c, size_t, size_t) {
    if (c < 0x2E80) return;  // below the CJK blocks
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
  });
  return traditional > simplified ? "zh-Hant" : "zh-Hans";
}

// The BCP 47 code for a CLD2 language; none for CLD2's unknown, script-only ("xx-Latn") and joke
// ("zzb") languages.
std::optional<std::string> bcp47(CLD2::Language language) {
  if (language == CLD2::UNKNOWN_LANGUAGE || language == CLD2::TG_UNKNOWN_LANGUAGE) {
    return std::nullopt;
  }
  const std::string_view code = CLD2::LanguageCode(language);
  if (code.empty() || code == "un" || code == "xxx" || code.starts_with("xx-") ||
      code.starts_with("zz")) {
    return std::nullopt;
  }
  if (code == "zh") return "zh-Hans";
  if (code == "iw") return "he";
  if (code == "jw") return "jv";
  return std::string(code);
}

// Whether CLD2 recognises `language` in the script whose ISO 15924 code is `script`.
bool writtenIn(CLD2::Language language, const char* script) {
  for (int n = 0; n < 4; ++n) {
    if (std::strcmp(CLD2::ULScriptCode(CLD2::LanguageRecognizedScript(language, n)), script) == 0) {
      return true;
    }
  }
  return false;
}

// `text` with every invalid UTF-8 sequence and every character CLD2 stops at replaced by a space.
std::string cleanForCld2(std::string_view text) {
  std::string cleaned;
  cleaned.reserve(text.size());
  forEachCodePoint(text, [&](UChar32 c, size_t begin, size_t end) {
    if (c != kIllFormed && isInterchangeable(c)) {
      cleaned.append(text.substr(begin, end - begin));
    } else {
      cleaned.push_back(' ');
    }
  });
  return cleaned;
}

// CLD2 reads 15 to 25 MB/s, so a longer text is judged on kCld2Windows windows spread evenly over
// it, kCld2Budget bytes (some 2,500 words) in all: plenty to weigh the languages of its parts, and
// it keeps the cost of a request on the main thread bounded. Script counts still cover all of it.
constexpr size_t kCld2Budget = 16 * 1024;
constexpr size_t kCld2Windows = 16;

// Moves `pos` forward past UTF-8 continuation bytes and then, if one is near, past the next space,
// so that windows start at a word.
size_t wordStart(std::string_view text, size_t pos) {
  while (pos < text.size() && (static_cast<uint8_t>(text[pos]) & 0xC0) == 0x80) ++pos;
  const size_t space = text.find(' ', pos);
  return space != std::string_view::npos && space - pos < 32 ? space + 1 : pos;
}

// Evenly spaced windows of `text`, kCld2Budget bytes in all, joined by line feeds.
std::string sampleForCld2(std::string_view text) {
  constexpr size_t kWindow = kCld2Budget / kCld2Windows;
  std::string sample;
  sample.reserve(kCld2Budget + kCld2Windows);
  const size_t stride = text.size() / kCld2Windows;
  for (size_t i = 0; i < kCld2Windows; ++i) {
    const size_t begin = wordStart(text, i * stride);
    const size_t end = wordStart(text, std::min(begin + kWindow, text.size()));
    if (begin < end) sample.append(text.substr(begin, end - begin)).push_back('\n');
  }
  return sample;
}

// The Latin-script languages the agent is mostly asked to translate from.
constexpr std::array<std::string_view, 4> kMainLatin = {"en", "es", "fr", "de"};

// Profiles less than this many points behind the best one count as tied with it: half a common
// word, or one spelling.
constexpr double kProfileMargin = 0.5;
// How much word evidence the chosen profile needs to overrule CLD2: one of its frequent words, so
// that letters and spellings alone ("ll" in "Hello world") never do; against an answer without a
// profile to compare with (Slovak, Hungarian, Malagasy, ...), a frequent and a common word and no
// letter outside its alphabet, as Hungarian and Czech share accents and short words with Spanish.
constexpr double kProfileEvidence = 2;
constexpr double kProfileEvidenceAgainstUnprofiled = 3;
// Profiles judge texts up to this long. A longer text gives CLD2 over a hundred words, enough for
// its answer to be dependable, and may mix languages, which CLD2 weighs by their share of the
// text and a count of telltale words does not.
constexpr size_t kProfileMaxBytes = 1024;

// Close relatives of each main language: languages that share most of its short words and
// spellings, so that a short text of the main language is often equally good in them ("símbolos
// diferentes" is Spanish, Portuguese and Galician). Romanian is not one of Spanish's, nor Italian
// one of French's: they share few short words, and a text of one without the other's letters is
// rarely valid in the other.
struct Family {
  std::string_view main;
  std::array<std::string_view, 8> relatives;
};
constexpr std::array<Family, 4> kFamilies = {{
    {"es", {"pt", "gl", "ca", "it", "ast", "an", "oc"}},
    {"fr", {"ca", "oc", "wa", "co", "ht"}},
    {"de", {"nl", "af", "lb", "fy"}},
    {"en", {"sco"}},
}};

size_t codePoints(std::string_view text) {
  return std::ranges::count_if(text,
                               [](char c) { return (static_cast<uint8_t>(c) & 0xC0) != 0x80; });
}

// Texts shorter than this many code points are where CLD2 confuses close relatives most (about a
// third of short Spanish phrases); from this length on its own answer of a relative is kept, as
// it is then right far more often than the profiles, which tie on most such texts.
constexpr size_t kShortTextLimit = 20;

const ProfileScore* scoreOf(std::span<const ProfileScore> scores, std::string_view language) {
  for (const ProfileScore& s : scores) {
    if (s.language == language) return &s;
  }
  return nullptr;
}

// The prior for the main languages. They are what users mostly ask the agent to translate, and
// far more common among them than their relatives; a Spanish text called Galician gets no
// translation at all. So a text that the other rules give to a close relative goes to its main
// language when nothing in it sets the relative apart: no letter of the relative's alphabet that
// the main language lacks ("ç", "ã", "à", "·" against Spanish), none of the relative's words that
// the main language does not have ("unha", "che", "amb", "de" against German), and none of its
// characteristic spellings ("lh", "nh", "ny", "gli", "ij"); see distinctiveEvidence. The main
// language must also have evidence of its own (a positive profile score) and no letter outside its
// alphabet. A relative without a profile ("oc", "lb", ...) gives way only to a main language that
// is among the profiles' leaders with word evidence and no letter outside its alphabet. When two
// main languages qualify (Catalan: Spanish and French), the better scored wins, and on a tie the
// first family listed (Spanish, the pair most often installed).
std::string_view preferMain(std::string_view text, std::span<const ProfileScore> scores,
                            std::string_view language, double best) {
  const ProfileScore* relative = scoreOf(scores, latinProfileOf(language));
  const ProfileScore* preferred = nullptr;
  for (const Family& family : kFamilies) {
    if (std::ranges::find(family.relatives, language) == family.relatives.end()) continue;
    const ProfileScore* main = scoreOf(scores, family.main);
    if (main->foreignLetters > 0 || main->score <= 0) continue;
    if (relative != nullptr) {
      if (distinctiveEvidence(text, relative->language, main->language) > 0) continue;
    } else if (main->score <= best - kProfileMargin || main->words < kProfileEvidence) {
      continue;
    }
    if (preferred == nullptr || main->score > preferred->score) preferred = main;
  }
  return preferred != nullptr ? preferred->language : language;
}

// Second opinion on Latin-script text. The CLD2 tables Debian ships often misname short or
// technical sentences of the main languages ("Especifica el color para los conectores." is
// English to it, "Les lignes courtes" Norwegian), so our own profiles of function words, letters
// and spellings (latin_profiles.h) score the text too, and the profiles' leaders (the languages
// within kProfileMargin of the best) settle it:
// - CLD2's answer stands if it is among the leaders, or if the profiles found nothing;
// - else the answer is the one leader that is a main language or one of CLD2's own proposals, or
//   failing that the only leader. Close relatives (Spanish, Galician, Portuguese, Catalan; German,
//   Dutch, Afrikaans) are all profiled, so a text more Portuguese than Spanish never becomes
//   Spanish. Two such leaders leave CLD2's answer;
// - the chosen language needs kProfileEvidence from words, and more against an answer without a
//   profile;
// - last, a relative of a main language chosen by the profiles, or named by CLD2 for a short text,
//   goes to the main language unless the text holds evidence of the relative (preferMain).
std::optional<std::string> reconcileLatin(
    std::string_view text, const std::optional<std::string>& answer,
    const std::array<std::optional<std::string>, 3>& proposals) {
  const std::span<const ProfileScore> scores = scoreLatinProfiles(text);
  double best = 0;
  for (const ProfileScore& s : scores) best = std::max(best, s.score);
  const bool shortText = codePoints(text) < kShortTextLimit;
  auto withPrior = [&](const std::optional<std::string>& language) -> std::optional<std::string> {
    if (!language || (!shortText && language == answer)) return language;
    const std::string_view preferred = preferMain(text, scores, *language, best);
    return preferred == *language ? language : std::string(preferred);
  };
  if (best <= 0) return withPrior(answer);
  const std::string_view answered = answer ? latinProfileOf(*answer) : std::string_view();
  const ProfileScore* choice = nullptr;
  const ProfileScore* onlyLeader = nullptr;
  int leaders = 0;
  for (const ProfileScore& s : scores) {
    if (s.score <= best - kProfileMargin) continue;
    if (s.language == answered) return withPrior(answer);
    ++leaders;
    onlyLeader = &s;
    const bool proposed = std::ranges::find(kMainLatin, s.language) != kMainLatin.end() ||
                          std::ranges::any_of(proposals, [&](const std::optional<std::string>& p) {
                            return p && latinProfileOf(*p) == s.language;
                          });
    if (!proposed) continue;
    if (choice != nullptr) return withPrior(answer);  // two plausible leaders
    choice = &s;
  }
  if (choice == nullptr && leaders == 1) choice = onlyLeader;
  if (choice == nullptr || choice->words < kProfileEvidence) return withPrior(answer);
  if (answered.empty() &&
      (choice->words < kProfileEvidenceAgainstUnprofiled || choice->foreignLetters > 0)) {
    return withPrior(answer);
  }
  return withPrior(std::string(choice->language));
}

// CLD2's choice among the languages of `text` written in `script`, the script with the most
// letters: CLD2 weighs languages by bytes, which favours scripts with longer UTF-8 encodings.
std::optional<std::string> detectWithCld2(std::string_view text, bool needsCleaning,
                                          UScriptCode script) {
  std::string sample;
  if (text.size() > kCld2Budget) {
    sample = sampleForCld2(text);
    text = sample;
  }
  std::string cleaned;
  if (needsCleaning) {
    cleaned = cleanForCld2(text);
    text = cleaned;
  }
  CLD2::Language languages[3];
  int percents[3];
  double scores[3];
  int textBytes = 0;
  bool reliable = false;
  int validPrefixBytes = 0;
  // Best effort: CLD2 otherwise gives up on short texts such as "Hola mundo", whose answer is
  // right but marked unreliable for want of text.
  const CLD2::Language top = CLD2::ExtDetectLanguageSummaryCheckUTF8(
      text.data(), static_cast<int>(text.size()), /*is_plain_text=*/true, /*cld_hints=*/nullptr,
      CLD2::kCLDFlagBestEffort, languages, percents, scores, /*resultchunkvector=*/nullptr,
      &textBytes, &reliable, &validPrefixBytes);
  std::optional<std::string> answer = bcp47(top);
  const char* scriptCode = uscript_getShortName(script);
  for (CLD2::Language language : languages) {
    if (language != CLD2::UNKNOWN_LANGUAGE && scriptCode != nullptr &&
        writtenIn(language, scriptCode)) {
      answer = bcp47(language);
      break;
    }
  }
  if (script != USCRIPT_LATIN || text.size() > kProfileMaxBytes) return answer;
  std::array<std::optional<std::string>, 3> proposals;
  for (size_t i = 0; i < proposals.size(); ++i) proposals[i] = bcp47(languages[i]);
  return reconcileLatin(text, answer, proposals);
}

std::optional<std::string> recognise(std::string_view text) {
  // CLD2 takes lengths as int; a text this long is judged by its first 2 GiB.
  text = text.substr(0, std::numeric_limits<int32_t>::max());
  const ScriptCounts counts = countScripts(text);
  if (!counts.hasLetters) return std::nullopt;

  // Scripts decide first. East Asian scripts are pooled and weighed against the strongest other
  // script; the larger side names the text's script, East Asian winning ties.
  const auto& letters = counts.letters;
  const int han = letters[USCRIPT_HAN];
  const int kana = letters[USCRIPT_HIRAGANA] + letters[USCRIPT_KATAKANA];
  const int hangul = letters[USCRIPT_HANGUL];
  const int bopomofo = letters[USCRIPT_BOPOMOFO];
  const int64_t eastAsian = int64_t{han + kana + hangul + bopomofo} * kEastAsianWeight;
  int strongest = USCRIPT_INVALID_CODE;
  int strongestLetters = 0;
  for (int script = 0; script < USCRIPT_CODE_LIMIT; ++script) {
    if (!isEastAsian(script) && letters[script] > strongestLetters) {
      strongest = script;
      strongestLetters = letters[script];
    }
  }
  if (eastAsian > 0 && eastAsian >= strongestLetters) {
    // Kana only occurs in Japanese and Hangul only in Korean; Han alone is Chinese.
    if (hangul > kana) return "ko";
    if (kana > 0) return "ja";
    return chineseVariant(text, bopomofo);
  }
  return detectWithCld2(text, counts.needsCleaning, static_cast<UScriptCode>(strongest));
}

class Recogniser : public LanguageRecogniser {
 public:
  void processString(std::string_view text) override { language_ = recognise(text); }
  std::optional<std::string> dominantLanguage() override { return language_; }

 private:
  std::optional<std::string> language_;
};

}  // namespace

std::unique_ptr<LanguageRecogniser> makeRecogniser() { return std::make_unique<Recogniser>(); }

}  // namespace talvori
