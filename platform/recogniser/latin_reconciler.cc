#include "platform/recogniser/latin_reconciler.h"

#include <algorithm>
#include <array>
#include <bit>
#include <span>

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include "base/utf8.h"
#include "platform/recogniser/latin_profiles.h"
#include "platform/recogniser/word_lists.h"

namespace talvori {
namespace {

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
// first family listed (Spanish, the pair most often installed). A main language none of whose
// words is in its list is never preferred.
std::string_view preferMain(std::string_view text, std::span<const ProfileScore> scores,
                            std::string_view language, double best, const WordCensus* words) {
  const ProfileScore* relative = scoreOf(scores, latinProfileOf(language));
  const ProfileScore* preferred = nullptr;
  for (const Family& family : kFamilies) {
    if (std::ranges::find(family.relatives, language) == family.relatives.end()) continue;
    const ProfileScore* main = scoreOf(scores, family.main);
    if (main->foreignLetters > 0 || main->score <= 0) continue;
    if (words != nullptr && words->known > 0 && words->count(family.main) == 0) continue;
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
std::optional<std::string> weighProfiles(std::string_view text, const Cld2Verdict& cld2,
                                         std::span<const ProfileScore> scores,
                                         const WordCensus* words) {
  const std::optional<std::string>& answer = cld2.answer;
  const auto& proposals = cld2.proposals;
  double best = 0;
  for (const ProfileScore& s : scores) best = std::max(best, s.score);
  const bool shortText = countCodePoints(text) < kShortTextLimit;
  auto withPrior = [&](const std::optional<std::string>& language) -> std::optional<std::string> {
    if (!language || (!shortText && language == answer)) return language;
    const std::string_view preferred = preferMain(text, scores, *language, best, words);
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

// The family's main language of a relative, or empty.
std::string_view mainOf(std::string_view language) {
  for (const Family& family : kFamilies) {
    if (std::ranges::find(family.relatives, language) != family.relatives.end()) return family.main;
  }
  return {};
}

// Known words a text needs before a main language missing one of them may still be chosen.
constexpr int kNearMissMinWords = 3;

// The listed languages whose list holds every word of the text that some list holds, with no
// letter outside their alphabet and none of the text's words a function word of another profiled
// language only ("la", "die" and "sin" are English words too).
LanguageMask candidatesOf(std::string_view text, const WordCensus& words,
                          std::span<const ProfileScore> scores) {
  LanguageMask candidates = 0;
  for (std::string_view language : kListedLanguages) {
    if (words.count(language) < words.known) continue;
    const ProfileScore* profile = scoreOf(scores, language);
    if (profile != nullptr && profile->foreignLetters > 0) continue;
    if (foreignWords(text, language) > 0) continue;
    candidates |= maskOf(language);
  }
  if (candidates != 0 || words.known < kNearMissMinWords) return candidates;
  // No list holds every word: a main language whose list misses one word of several still counts
  // when it is the only one (lists lack technical words and loanwords: "Reinicia el daemon
  // ahora").
  for (std::string_view language : kMainLatin) {
    if (words.count(language) != words.known - 1) continue;
    const ProfileScore* profile = scoreOf(scores, language);
    if (profile->foreignLetters > 0 || foreignWords(text, language) > 0) continue;
    if (candidates != 0) return 0;
    candidates = maskOf(language);
  }
  return candidates;
}

// The language that the words of a short text settle, if they do, from its candidates (see
// candidatesOf). Words of no list (names, typing errors) are set aside, but they must be fewer
// than the known words, which would otherwise say little. Among the candidates:
// - a main language (English, Spanish, French, German) before the others: users mostly translate
//   from these, and a word shared with a relative is mostly the main language's;
// - among several main languages, the one the profiles' function words single out, else the
//   first of CLD2's answer and proposals that is a candidate, else English (source strings are
//   English, and a word shared with it is mostly a loan), else none;
// - with no main language, the first of CLD2's answer and proposals that is a candidate, else the
//   only candidate, else the profiles' sole leader by words, else none.
// Last, a relative whose main language is also a candidate gives way to it.
std::optional<std::string_view> byWords(const WordCensus& words, LanguageMask candidates,
                                        std::span<const ProfileScore> scores,
                                        const Cld2Verdict& cld2) {
  if (candidates == 0 || words.known <= words.words - words.known) return std::nullopt;
  auto isCandidate = [&](std::string_view language) {
    return (candidates & maskOf(language)) != 0;
  };
  // The sole leader by the profiles' word points among `languages`, if any has points.
  auto leaderAmong = [&](auto&& languages) -> std::string_view {
    std::string_view leader;
    double best = 0;
    int leaders = 0;
    for (std::string_view language : languages) {
      if (!isCandidate(language)) continue;
      const double points = scoreOf(scores, language)->words;
      if (points > best + kProfileMargin) {
        best = points;
        leaders = 1;
        leader = language;
      } else if (points > best - kProfileMargin) {
        ++leaders;
      }
    }
    return leaders == 1 && best > 0 ? leader : std::string_view();
  };
  std::string_view choice;
  int mains = 0;
  for (std::string_view language : kMainLatin) {
    if (!isCandidate(language)) continue;
    if (mains++ == 0) choice = language;
  }
  // CLD2's answer if it is a candidate, else its first other proposal that is one.
  std::string_view proposed;
  if (cld2.answer && isCandidate(*cld2.answer)) {
    proposed = kListedLanguages[std::countr_zero(maskOf(*cld2.answer))];
  }
  for (const std::optional<std::string>& p : cld2.proposals) {
    if (proposed.empty() && p && isCandidate(*p)) {
      proposed = kListedLanguages[std::countr_zero(maskOf(*p))];
    }
  }
  if (mains > 1) {
    choice = leaderAmong(kMainLatin);
    if (choice.empty()) choice = proposed;
    if (choice.empty() && isCandidate("en")) choice = "en";
    if (choice.empty()) return std::nullopt;
  } else if (mains == 0 && !proposed.empty()) {
    choice = proposed;
  } else if (mains == 0 && std::popcount(candidates) > 1) {
    choice = leaderAmong(kListedLanguages);
    if (choice.empty()) return std::nullopt;
  } else if (mains == 0) {
    choice = kListedLanguages[std::countr_zero(candidates)];
  }
  if (const std::string_view main = mainOf(choice); !main.empty() && isCandidate(main)) {
    return main;
  }
  return choice;
}

// Texts of at most this many words are judged on their words first: CLD2 has too few letters to
// weigh, and looking every word up stays cheap.
constexpr size_t kWordEvidenceMaxWords = 8;

bool hasCombiningMarks(std::string_view text) {
  // U+0300..U+036F, the combining diacritical marks, are CC 80 to CD AF in UTF-8.
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b == 0xCC || (b == 0xCD && static_cast<unsigned char>(text[i + 1]) <= 0xAF)) return true;
  }
  return false;
}

// ICU's NFC normaliser, or null if ICU cannot make it. Fetched once, as a static local: the guard
// of its initialisation also orders ICU's construction of the normaliser before its use on other
// threads in a way that ThreadSanitizer sees (ICU's own is hidden from it).
const icu::Normalizer2* nfcNormaliser() {
  static const icu::Normalizer2* const instance = [] {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    return U_SUCCESS(status) ? nfc : nullptr;
  }();
  return instance;
}

std::string composeAccents(std::string_view text) {
  const icu::Normalizer2* nfc = nfcNormaliser();
  if (nfc == nullptr) return std::string(text);
  UErrorCode status = U_ZERO_ERROR;
  const icu::UnicodeString composed =
      nfc->normalize(icu::UnicodeString::fromUTF8(
                         icu::StringPiece(text.data(), static_cast<int32_t>(text.size()))),
                     status);
  std::string out;
  if (U_FAILURE(status)) return std::string(text);
  composed.toUTF8String(out);
  return out;
}

size_t countWords(std::string_view text) {
  size_t words = 0;
  bool inWord = false;
  for (char c : text) {
    const bool space = c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
    words += !space && !inWord;
    inWord = !space;
  }
  return words;
}

// Texts of at most this many words can be an English word or name by the English list alone.
constexpr int kEnglishNameMaxWords = 2;

// Whether `words`, a text's census, make it a word or a two-word name of the English list
// ("Gaussian", "Gaussian Blur"), with no letter outside the English alphabet ("Größe").
bool englishWordOrName(const WordCensus& words, std::span<const ProfileScore> scores) {
  if (words.words == 0 || words.words > kEnglishNameMaxWords || words.code > 0 ||
      words.count("en") < words.words) {
    return false;
  }
  const ProfileScore* english = scoreOf(scores, "en");
  return english != nullptr && english->foreignLetters == 0;
}

}  // namespace

std::optional<std::string> reconcileLatin(std::string_view text, const Cld2Verdict& cld2) {
  // Accents written as combining marks ("o" and U+0301) are composed first: the lists, the
  // profiles and the alphabets hold composed letters.
  std::string composed;
  if (hasCombiningMarks(text)) {
    composed = composeAccents(text);
    text = composed;
  }
  const ProfileScores scores = scoreLatinProfiles(text);
  std::optional<WordCensus> words;
  LanguageMask candidates = 0;
  if (countWords(text) <= kWordEvidenceMaxWords) {
    words = takeWordCensus(text);
    // A short text of identifiers, options and placeholders alone ("AudioRaiseVolume") is not
    // written in any language.
    if (words->words == 0 && words->code > 0) return std::nullopt;
    // A word or two-word name of the English list is English, whatever CLD2 or the other lists
    // say, unless a letter or a word of the text is only another language's ("Größe", "die
    // Datei"): hosts mostly send words of an interface, and English is what those are most often
    // written in. A word that Spanish, French or German also writes and that is no common English
    // word ("Connexion", "Recherche") is left to the other rules; a common one ("Bureau",
    // "Script") is English.
    if (englishWordOrName(*words, scores) && foreignWords(text, "en") == 0 &&
        words->sharedUncommonEnglish == 0) {
      return "en";
    }
    candidates = candidatesOf(text, *words, scores);
    if (std::optional<std::string_view> language = byWords(*words, candidates, scores, cld2)) {
      return std::string(*language);
    }
  }
  std::optional<std::string> language =
      weighProfiles(text, cld2, scores, words ? &*words : nullptr);
  // A word or two-word name of the English list that the rule above held back (another
  // language's function word, or a word shared with another main language) and that would go
  // to no language, or to a language without a list and without a word or letter of its own in
  // the text ("Tai Le", which CLD2 calls Lithuanian), is English all the same.
  if (words && englishWordOrName(*words, scores) &&
      (!language || (maskOf(*language) == 0 &&
                     distinctiveEvidence(text, latinProfileOf(*language), "en") == 0))) {
    return std::string("en");
  }
  // A short text called a listed language must hold a word of its list: CLD2 calls many single
  // words of other languages English ("Flere", "Indstillinger"), which the agent would then echo
  // untranslated, or translate from the wrong language. Nor may it be a listed language whose
  // list lacks words that another list holds all of.
  if (language && words && words->words > 0 && maskOf(*language) != 0 &&
      (words->count(*language) == 0 || (candidates != 0 && !(candidates & maskOf(*language))))) {
    return std::nullopt;
  }
  return language;
}

}  // namespace talvori
