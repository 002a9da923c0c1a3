#include "platform/recogniser/word_lists.h"

#include <bit>
#include <optional>
#include <string>

#include <unicode/uchar.h>

#include "base/utf8.h"
#include "platform/recogniser/word_filter.h"

namespace talvori {

namespace {

constexpr size_t kLanguages = kListedLanguages.size();

const std::array<std::optional<WordFilter>, kLanguages>& filters() {
  static const auto* const instance = [] {
    auto* f = new std::array<std::optional<WordFilter>, kLanguages>;
    for (size_t i = 0; i < kLanguages; ++i) {
      (*f)[i] = findWordFilter(wordFilterData(), kListedLanguages[i]);
    }
    return f;
  }();
  return *instance;
}

const std::optional<WordFilter>& commonEnglishFilter() {
  static const auto* const instance =
      new std::optional<WordFilter>(findWordFilter(wordFilterData(), "en-core"));
  return *instance;
}

bool listed(size_t language, std::string_view word) {
  const std::optional<WordFilter>& filter = filters()[language];
  return filter && filter->contains(word);
}

// Languages that join words into one without a mark, and those that elide an article or
// preposition before a vowel with an apostrophe.
constexpr LanguageMask kJoining = maskOf("en") | maskOf("de") | maskOf("nl");
constexpr LanguageMask kEliding = maskOf("fr") | maskOf("ca") | maskOf("it");
static_assert(std::popcount(kJoining) == 3 && std::popcount(kEliding) == 3);  // each has a list
// English joins fewer words than German and Dutch (see isJoined).
constexpr size_t kEnglish = listIndexOf("en");
static_assert(kEnglish < kLanguages);
// Each joined part has at least this many bytes, so that short words do not make one of other
// languages ("bestand" is not "best" and "and").
constexpr size_t kPart = 4;
constexpr size_t kEnglishJoinedMax = 12;
// Longer words are not split, which keeps the cost of a look-up bounded (the longest German
// compounds of interface text are about 30 letters).
constexpr size_t kJoinedMax = 40;

// Whether `word` is two words of the language joined; German and Dutch also join three
// ("Benutzerdatensätze") and put a linking "s" between two ("Anmeldungsdaten").
bool isJoined(size_t language, std::string_view word, int parts = 2) {
  // English joins two short words at most ("fullscreen", "screensaver"); a longer run of English
  // parts is a compound of another language ("Systeminstallation", "Versionsinformation").
  if (language == kEnglish && word.size() > kEnglishJoinedMax) return false;
  if (word.size() > kJoinedMax) return false;
  for (size_t cut = kPart; cut + kPart <= word.size(); ++cut) {
    if ((static_cast<unsigned char>(word[cut]) & 0xC0) == 0x80) continue;  // inside a character
    if (!listed(language, word.substr(0, cut))) continue;
    for (size_t rest = cut; rest <= cut + 1 && rest + kPart <= word.size(); ++rest) {
      if (rest > cut && (language == kEnglish || word[cut] != 's')) break;
      const std::string_view tail = word.substr(rest);
      if (listed(language, tail)) return true;
      if (language != kEnglish && parts < 3 && isJoined(language, tail, parts + 1)) return true;
    }
  }
  return false;
}

bool isElided(size_t language, std::string_view word) {
  const size_t apostrophe = word.find('\'');
  return apostrophe != std::string_view::npos && apostrophe + 1 < word.size() &&
         listed(language, word.substr(0, apostrophe + 1)) &&
         listed(language, word.substr(apostrophe + 1));
}

bool isApostrophe(int32_t c) { return c == '\'' || c == 0x2019; }

// The letters that are words of the listed languages on their own: articles, conjunctions,
// prepositions and pronouns ("a", "y", "o", "e", "à", "é", "I").
bool isLetterWord(std::string_view word) {
  for (std::string_view w : {"a", "e", "i", "o", "u", "y", "à", "á", "è", "é", "ò", "ó"}) {
    if (word == w) return true;
  }
  return false;
}

// Whether a token (a run of text without spaces) is code or a name rather than a word: it holds
// a digit, a character of code or markup, a dot inside it (a file name), a capital after a small
// letter (an identifier), or starts with a hyphen (an option).
bool isCode(std::string_view token) {
  size_t begin = 0;
  while (begin < token.size() && (token[begin] == '"' || token[begin] == '(' ||
                                  token[begin] == '\'' || token[begin] == '[')) {
    ++begin;
  }
  if (begin < token.size() && token[begin] == '-') return true;
  bool lower = false;
  bool capitalised = false;
  bool dotInside = false;
  size_t first = 0;  // the end of the token's first character
  for (size_t i = 0; i < token.size();) {
    const int32_t c = decodeUtf8(token, i);
    if (first == 0) first = i;
    if (c < 0) return true;
    if (u_isdigit(c)) return true;
    if (c < 0x80 && std::string_view("_/\\%{}<>=@#$~|^*+`").find(static_cast<char>(c)) !=
                        std::string_view::npos) {
      return true;
    }
    if (c == '.') {
      dotInside =
          i < token.size() && u_isalpha(static_cast<int32_t>(static_cast<unsigned char>(token[i])));
      if (dotInside) return true;
    }
    // A capital after a small letter makes an identifier ("fileName", "iPhone"), unless the token
    // starts with a capital: key and action names join capitalised words ("AudioNext").
    if (u_isupper(c) && lower && !capitalised) return true;
    if (i == first) capitalised = u_isupper(c);
    lower = u_islower(c);
  }
  return false;
}

}  // namespace

LanguageMask languagesOf(std::string_view word) {
  // Of single letters English writes only "a" and "I" as words; its dictionary lists every letter.
  const bool strayLetter = word.size() == 1 && word != "a" && word != "i";
  LanguageMask mask = 0;
  for (size_t i = 0; i < kLanguages; ++i) {
    const LanguageMask bit = static_cast<LanguageMask>(1u << i);
    if (i == kEnglish && strayLetter) continue;
    if (listed(i, word) || ((kJoining & bit) && isJoined(i, word)) ||
        ((kEliding & bit) && isElided(i, word))) {
      mask |= bit;
    }
  }
  return mask;
}

bool isCommonEnglish(std::string_view word) {
  const std::optional<WordFilter>& filter = commonEnglishFilter();
  return filter && filter->contains(word);
}

int WordCensus::count(std::string_view language) const {
  const size_t i = listIndexOf(language);
  return i < kLanguages ? inList[i] : 0;
}

WordCensus takeWordCensus(std::string_view text) {
  WordCensus census;
  // Words in capitals are acronyms only in a text that also has small letters ("Memoria USB", not
  // "FORMATO").
  bool hasLower = false;
  for (size_t i = 0; i < text.size() && !hasLower;) {
    const int32_t c = decodeUtf8(text, i);
    hasLower = c >= 0 && u_islower(c);
  }
  std::string word;
  bool upper = true;  // every letter so far is upper case
  size_t letters = 0;
  auto finish = [&] {
    while (!word.empty() && word.back() == '\'') word.pop_back();
    // A single letter that no language writes as a word is a name ("x", "C", "the X key").
    if (letters == 1 && !isLetterWord(word)) {
      ++census.code;
    } else if (!word.empty() && !(upper && letters >= 2 && hasLower)) {
      const LanguageMask mask = languagesOf(word);
      ++census.words;
      census.known += mask != 0;
      constexpr LanguageMask kOtherMain = maskOf("es") | maskOf("fr") | maskOf("de");
      census.sharedUncommonEnglish +=
          (mask & maskOf("en")) != 0 && (mask & kOtherMain) != 0 && !isCommonEnglish(word);
      for (size_t i = 0; i < kLanguages; ++i) census.inList[i] += (mask >> i) & 1;
    }
    word.clear();
    upper = true;
    letters = 0;
  };
  size_t at = 0;
  while (at < text.size()) {
    const size_t tokenEnd = std::min(text.find_first_of(" \t\n\r\f\v", at), text.size());
    const std::string_view token = text.substr(at, tokenEnd - at);
    at = tokenEnd + 1;
    if (token.empty()) continue;
    if (isCode(token)) {
      ++census.code;
      continue;
    }
    for (size_t i = 0; i < token.size();) {
      const int32_t c = decodeUtf8(token, i);
      if (c >= 0 && u_isalpha(c)) {
        if (u_isupper(c) && !upper && !word.empty()) finish();  // "AudioNext" is two words
        upper &= u_isupper(c) != 0;
        ++letters;
        appendUtf8(static_cast<char32_t>(u_tolower(c)), word);
      } else if (isApostrophe(c) && !word.empty()) {
        word.push_back('\'');
      } else {  // a hyphenated word counts as its parts
        finish();
      }
    }
    finish();
  }
  return census;
}

}  // namespace talvori
