// Turns dictionary entries and word frequencies into the answers the agent gives: the cleaned
// English of each Chinese headword (chinese_answers.h), and the best Simplified headword for each
// English gloss (english_answers.h), from the entries with their markup cleaned
// (dictionary_markup.h). Used by the index tool at build time and by tests; a pure function.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tools/dictionary_index/dictionary_markup.h"
#include "tools/dictionary_index/english_answers.h"

namespace talvori {

// The answers by lookup key (see dictionary_text.h): `chinese` maps the key of each Simplified
// and Traditional headword to its English, `english` the key of each gloss to Chinese. Keys
// without a sure answer are absent.
struct DictionaryAnswers {
  std::map<std::string, std::string> chinese;
  std::map<std::string, std::string> english;
};
// `tags` may be empty; words without a tag are taken to be of any part of speech.
// `lexicon` gives the English keys' inflected forms and parts of speech; empty, only the glosses
// themselves are keys.
DictionaryAnswers buildAnswers(const std::vector<DictionaryEntry>& entries,
                               const WordFrequencies& frequencies, const WordTags& tags = {},
                               const EnglishLexicon& lexicon = {});

}  // namespace talvori
