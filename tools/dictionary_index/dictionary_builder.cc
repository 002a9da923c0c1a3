#include "tools/dictionary_index/dictionary_builder.h"

#include "tools/dictionary_index/chinese_answers.h"

namespace talvori {

DictionaryAnswers buildAnswers(const std::vector<DictionaryEntry>& entries,
                               const WordFrequencies& frequencies, const WordTags& tags,
                               const EnglishLexicon& lexicon) {
  const CleanDictionary dictionary(entries);
  return {chineseAnswers(dictionary), englishAnswers(dictionary, frequencies, tags, lexicon)};
}

}  // namespace talvori
