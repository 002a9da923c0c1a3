// Word lists of English and Spanish, and the word evidence they give on a short text.
//
// CLD2 weighs letter sequences, so one or two words give it little to go on ("Page title" is
// Vietnamese to it, "Archivos recientes" English). Whether each word is a word of the language is
// firmer evidence. The lists are Debian's wamerican (lower-case words: no names) and wspanish
// (lemmas, so that regular plurals and verb forms are derived here), compiled in.
#pragma once

#include <string_view>

namespace talvori {

// A sorted list of words, each followed by a line feed, searched in place: it needs no set-up,
// so it costs nothing at start-up.
class WordList {
 public:
  explicit constexpr WordList(std::string_view words) : words_(words) {}
  bool contains(std::string_view word) const;

 private:
  std::string_view words_;
};

// Whether `word` (lower case, UTF-8, an apostrophe as "'") is an English word.
bool isEnglishWord(std::string_view word);

// Whether `word` (lower case, UTF-8) is a Spanish word: one of the list, or a regular plural
// ("archivos", "canciones", "luces") or verb form ("usando", "instalado", "seleccione",
// "activará", "cambiarlos", "actualización") of one.
bool isSpanishWord(std::string_view word);

// The words of a text as the English and Spanish lists see them. Acronyms ("USB", "RGBA" in a
// text that has small letters) and words joined to digits ("You6") are not looked up.
struct WordCensus {
  int words = 0;     // words looked up
  int english = 0;   // of them English words
  int spanish = 0;   // Spanish words
  int neither = 0;   // words of neither list: other languages' words, names, typing errors
};

// Looks up the words of `text` (valid UTF-8).
WordCensus takeWordCensus(std::string_view text);

}  // namespace talvori
