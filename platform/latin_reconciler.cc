#include "platform/latin_reconciler.h"

#include <algorithm>
#include <array>
#include <span>

#include "platform/latin_profiles.h"
#include "platform/word_lists.h"
#include "protocol/utf8.h"

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

// Texts shorter than this many code points are where CLD2 confuses close relatives most; from this
// length on its own answer of a relative is kept, as it is then right more often than the
// profiles, which tie on most such texts.
constexpr size_t kShortTextLimit = 20;

const ProfileScore* scoreOf(std::span<const ProfileScore> scores, std::string_view language) {
  for (const ProfileScore& s : scores) {
    if (s.language == language) return &s;
  }
  return nullptr;
}

// Words of the Spanish list that are not English words.
int spanishOnly(const WordCensus& words) { return words.words - words.english - words.neither; }

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
// first family listed (Spanish, the pair most often installed). Against Spanish, words of neither
// the Spanish nor the English list also set the relative apart when they outnumber the words only
// Spanish has ("Arquivos recentes"; the Spanish list lacks some words, as "formato").
std::string_view preferMain(std::string_view text, std::span<const ProfileScore> scores,
                            std::string_view language, double best, const WordCensus* words) {
  const ProfileScore* relative = scoreOf(scores, latinProfileOf(language));
  const ProfileScore* preferred = nullptr;
  for (const Family& family : kFamilies) {
    if (std::ranges::find(family.relatives, language) == family.relatives.end()) continue;
    const ProfileScore* main = scoreOf(scores, family.main);
    if (main->foreignLetters > 0 || main->score <= 0) continue;
    if (family.main == "es" && words != nullptr && words->neither > spanishOnly(*words)) continue;
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

// The relatives of Spanish whose words and letters the profiles know.
constexpr std::array<std::string_view, 4> kSpanishRelatives = {"pt", "gl", "ca", "it"};

// Whether every word of a short text is a word of the main language, with nothing pointing
// elsewhere, and the language among the profiles' leaders by words: English when all its words are English words, its letters ASCII and none of its
// words a function word of another language ("la", "die", "sin"); Spanish when all its words
// are Spanish or English words, as many of them Spanish-only as English-only, and it has neither
// a letter outside the Spanish alphabet nor a function word, letter or spelling of another
// language ("the", "unha", "ç", "lh").
std::optional<std::string_view> byWords(std::string_view text, const WordCensus& words,
                                        std::span<const ProfileScore> scores) {
  if (words.words == 0) return std::nullopt;
  // Among the leaders by words: spellings alone ("ll" in "shell") do not count against a language.
  double best = 0;
  for (const ProfileScore& s : scores) best = std::max(best, s.words);
  auto leads = [&](std::string_view language) {
    return scoreOf(scores, language)->words > best - kProfileMargin;
  };
  if (words.english == words.words && scoreOf(scores, "en")->foreignLetters == 0 &&
      leads("en") && foreignWords(text, "en") == 0) {
    return "en";
  }
  const int englishOnly = words.words - words.spanish - words.neither;
  if (words.neither > 0 || spanishOnly(words) == 0 || spanishOnly(words) < englishOnly ||
      scoreOf(scores, "es")->foreignLetters > 0 || !leads("es") || foreignWords(text, "es") > 0) {
    return std::nullopt;
  }
  for (std::string_view relative : kSpanishRelatives) {
    if (distinctiveEvidence(text, relative, "es") > 0) return std::nullopt;
  }
  return "es";
}

// Texts of at most this many words are judged on their words first: CLD2 has too few letters to
// weigh, and looking every word up stays cheap.
constexpr size_t kWordEvidenceMaxWords = 8;

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

}  // namespace

std::optional<std::string> reconcileLatin(std::string_view text, const Cld2Verdict& cld2) {
  const std::span<const ProfileScore> scores = scoreLatinProfiles(text);
  std::optional<WordCensus> words;
  if (countWords(text) <= kWordEvidenceMaxWords) {
    words = takeWordCensus(text);
    if (std::optional<std::string_view> language = byWords(text, *words, scores)) {
      return std::string(*language);
    }
  }
  std::optional<std::string> language =
      weighProfiles(text, cld2, scores, words ? &*words : nullptr);
  // A short text called English must hold an English word: CLD2 calls many single words of other
  // languages English ("Flere", "Bestand"), which the agent would then echo untranslated.
  if (language == "en" && words && words->words > 0 && words->english == 0) return std::nullopt;
  // A short text called Spanish that holds a word of neither list and the words or letters of
  // exactly one relative ("Bon dia a tothom") is that relative's.
  if (language == "es" && words && words->neither > 0) {
    std::string_view relative;
    for (std::string_view r : kSpanishRelatives) {
      if (distinctiveWords(text, r, "es") == 0) continue;
      if (!relative.empty()) return language;
      relative = r;
    }
    if (!relative.empty()) return std::string(relative);
  }
  return language;
}

}  // namespace talvori
