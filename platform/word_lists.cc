#include "platform/word_lists.h"

#include <unicode/uchar.h>

#include <array>
#include <string>

#include "protocol/utf8.h"

namespace talvori {

extern const std::string_view kEnglishWords;  // generated from wamerican
extern const std::string_view kSpanishWords;  // generated from wspanish

namespace {

// Accented forms of the Spanish vowels, in UTF-8; a plural may gain or lose the accent of its
// singular ("canción", "canciones"; "origen", "orígenes").
constexpr std::array<std::pair<char, std::string_view>, 5> kAccented = {{
    {'a', "á"}, {'e', "é"}, {'i', "í"}, {'o', "ó"}, {'u', "ú"}}};

// `stem` with the accent of its last accented vowel removed, or with its last vowel accented when
// it has none; empty if it has no vowel.
std::string swapAccent(std::string_view stem) {
  for (const auto& [plain, accented] : kAccented) {
    if (const size_t at = stem.rfind(accented); at != std::string_view::npos) {
      return std::string(stem.substr(0, at)) + plain + std::string(stem.substr(at + 2));
    }
  }
  const size_t at = stem.find_last_of("aeiou");
  if (at == std::string_view::npos) return {};
  for (const auto& [plain, accented] : kAccented) {
    if (plain == stem[at]) {
      return std::string(stem.substr(0, at)) + std::string(accented) +
             std::string(stem.substr(at + 1));
    }
  }
  return {};
}

const WordList& spanishList() {
  static const WordList list(kSpanishWords);
  return list;
}

// Whether a singular of the plural `word` is listed.
bool isSpanishPlural(std::string_view word) {
  if (!word.ends_with('s') || word.size() < 3) return false;
  const WordList& list = spanishList();
  if (list.contains(word.substr(0, word.size() - 1))) return true;  // "archivos"
  if (!word.ends_with("es")) return false;
  const std::string_view stem = word.substr(0, word.size() - 2);
  if (list.contains(stem)) return true;  // "papeles"
  if (stem.ends_with('c') && list.contains(std::string(stem.substr(0, stem.size() - 1)) + 'z')) {
    return true;  // "luces"
  }
  const std::string swapped = swapAccent(stem);
  return !swapped.empty() && list.contains(swapped);  // "canciones", "orígenes"
}

// Whether `word` is a regular form of a listed infinitive: a gerund or participle ("usando",
// "instalado"), a present or imperative ("establece", "seleccione", "pulsan"), a future
// ("activará"), an infinitive with a pronoun ("cambiarlos", "ajustarse"), or a noun in "-ción" of
// a verb in "-ar" ("actualización").
bool isSpanishVerbForm(std::string_view word) {
  struct Ending {
    std::string_view form;
    std::string_view infinitive;
  };
  static constexpr std::array<Ending, 39> kEndings = {{
      {"ando", "ar"}, {"iendo", "er"}, {"iendo", "ir"},
      {"ado", "ar"}, {"ada", "ar"}, {"ados", "ar"}, {"adas", "ar"},
      {"ido", "er"}, {"ida", "er"}, {"idos", "er"}, {"idas", "er"},
      {"ido", "ir"}, {"ida", "ir"}, {"idos", "ir"}, {"idas", "ir"},
      {"a", "ar"}, {"an", "ar"}, {"e", "ar"}, {"en", "ar"},
      {"e", "er"}, {"en", "er"}, {"a", "er"}, {"an", "er"},
      {"e", "ir"}, {"en", "ir"}, {"a", "ir"}, {"an", "ir"},
      {"ará", "ar"}, {"arán", "ar"}, {"erá", "er"}, {"erán", "er"}, {"irá", "ir"}, {"irán", "ir"},
      {"ación", "ar"}, {"aciones", "ar"},
      {"rlo", "r"}, {"rla", "r"}, {"rlos", "r"}, {"rse", "r"},
  }};
  for (const Ending& e : kEndings) {
    if (word.size() > e.form.size() + 2 && word.ends_with(e.form)) {
      std::string infinitive(word.substr(0, word.size() - e.form.size()));
      infinitive += e.infinitive;
      if (spanishList().contains(infinitive)) return true;
    }
  }
  return false;
}

bool isApostrophe(int32_t c) { return c == '\'' || c == 0x2019; }

}  // namespace

bool WordList::contains(std::string_view word) const {
  if (word.empty()) return false;
  size_t low = 0;
  size_t high = words_.size();
  while (low < high) {
    const size_t middle = low + (high - low) / 2;
    const size_t lineStart = middle == 0 ? 0 : words_.rfind('\n', middle - 1) + 1;
    const size_t lineEnd = words_.find('\n', lineStart);
    const int order = words_.substr(lineStart, lineEnd - lineStart).compare(word);
    if (order == 0) return true;
    if (order < 0) {
      low = lineEnd + 1;
    } else {
      high = lineStart;
    }
  }
  return false;
}

bool isEnglishWord(std::string_view word) {
  static const WordList list(kEnglishWords);
  if (list.contains(word)) return true;
  // Interface text joins words ("fullscreen", "filename", "colorspace"): two English words of at
  // least four letters each, so that short words do not make one of other languages ("bestand").
  constexpr size_t kPart = 4;
  for (size_t cut = kPart; cut + kPart <= word.size(); ++cut) {
    if (list.contains(word.substr(0, cut)) && list.contains(word.substr(cut))) return true;
  }
  return false;
}

bool isSpanishWord(std::string_view word) {
  return spanishList().contains(word) || isSpanishPlural(word) || isSpanishVerbForm(word);
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
  bool upper = true;   // every letter so far is upper case
  bool digit = false;  // a digit touches the word
  size_t letters = 0;
  auto finish = [&] {
    if (!word.empty() && !digit && !(upper && letters >= 2 && hasLower)) {
      while (word.back() == '\'') word.pop_back();
      const bool english = isEnglishWord(word);
      const bool spanish = isSpanishWord(word);
      ++census.words;
      census.english += english;
      census.spanish += spanish;
      census.neither += !english && !spanish;
    }
    word.clear();
    upper = true;
    digit = false;
    letters = 0;
  };
  for (size_t i = 0; i < text.size();) {
    const int32_t c = decodeUtf8(text, i);
    if (c >= 0 && u_isalpha(c)) {
      upper &= u_isupper(c) != 0;
      ++letters;
      appendUtf8(static_cast<char32_t>(u_tolower(c)), word);
    } else if (c >= 0 && u_isdigit(c)) {
      digit = true;
    } else if (isApostrophe(c) && !word.empty()) {
      word.push_back('\'');
    } else {  // a hyphenated word counts as its parts
      finish();
    }
  }
  finish();
  return census;
}

}  // namespace talvori
