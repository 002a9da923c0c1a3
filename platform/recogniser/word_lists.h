// Word lists of the main Latin-script languages and their close relatives, and the word evidence
// they give on a short text.
//
// CLD2 weighs letter sequences, so one or two words give it little to go on ("Page title" is
// Vietnamese to it, "Archivos recientes" English). Whether each word is a word of a language is
// firmer evidence. The lists hold every inflected form of Debian's spelling dictionaries (and
// wamerican and wspanish), compiled in as word filters (word_filter.h).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace talvori {

// The languages with a word list; bit i of a LanguageMask stands for kListedLanguages[i].
inline constexpr std::array<std::string_view, 9> kListedLanguages = {"en", "es", "fr", "de", "pt",
                                                                     "gl", "ca", "it", "nl"};
using LanguageMask = uint16_t;
static_assert(kListedLanguages.size() <= 8 * sizeof(LanguageMask));

// The index of `language` in kListedLanguages, kListedLanguages.size() for a language without a
// list.
constexpr size_t listIndexOf(std::string_view language) {
  size_t i = 0;
  while (i < kListedLanguages.size() && kListedLanguages[i] != language) ++i;
  return i;
}

// The bit of `language` in a LanguageMask, 0 for a language without a list.
constexpr LanguageMask maskOf(std::string_view language) {
  const size_t i = listIndexOf(language);
  return i < kListedLanguages.size() ? static_cast<LanguageMask>(1u << i) : 0;
}

// The languages whose list holds `word` (lower case, UTF-8, an apostrophe as "'"). Two joined
// words count as one in English, German and Dutch ("fullscreen", "Dateiname"); an elided article
// with its word as those two in French, Catalan and Italian ("l'application", "dell'utente").
// Any thread: the lists are read-only.
LanguageMask languagesOf(std::string_view word);

// The words of a text as the lists see them. Tokens that are not words of any language are not
// looked up: acronyms ("USB" in a text with small letters), tokens with digits ("You6"), options
// ("--help"), placeholders ("%s", "{name}"), paths, file names and identifiers ("file.txt",
// "max_size", "fileName").
struct WordCensus {
  int words = 0;  // words looked up
  int known = 0;  // of them in some list; the others are names, typing errors, other languages
  int code = 0;   // tokens set aside as code or names
  std::array<int, kListedLanguages.size()> inList{};  // known words in each language's list
  // Words of the English list that Spanish, French or German also hold and that are no common
  // English words (isCommonEnglish): "connexion", "recherche"; not "bureau", "script".
  int sharedUncommonEnglish = 0;

  int count(std::string_view language) const;
};

// Whether `word` (lower case) is a common English word: one of a short list (wamerican-small), a
// word of the English names of languages, countries and months, or a proper adjective
// ("gaussian").
bool isCommonEnglish(std::string_view word);

// Looks up the words of `text` (valid UTF-8).
WordCensus takeWordCensus(std::string_view text);

}  // namespace talvori
