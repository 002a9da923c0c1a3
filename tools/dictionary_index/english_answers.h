// The Chinese answers for English words and names: for each key of an English gloss, the
// Simplified headwords whose senses give it, weighed by how common each word is and how early
// the gloss stands, and one chosen when it is sure. Used by the index tool at build time and by
// tests; a pure function.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>

#include "tools/dictionary_index/dictionary_markup.h"
#include "tools/dictionary_index/english_lexicon.h"

namespace talvori {

// How many times each Simplified word was seen in a corpus.
using WordFrequencies = std::unordered_map<std::string, std::uint64_t>;

// The part of speech each Simplified word mostly has in that corpus, as a tag of the ICTCLAS
// set ("n" noun, "v" verb, "vn" verb also used as a noun, "a" adjective, "ns" place name ...).
using WordTags = std::unordered_map<std::string, std::string>;

// The Chinese filed under the key (see dictionary_text.h) of each English gloss, and of each
// inflected form of it that `lexicon` knows, that has a sure answer. `tags` may be empty; words
// without a tag are taken to be of any part of speech.
std::map<std::string, std::string> englishAnswers(const CleanDictionary& dictionary,
                                                  const WordFrequencies& frequencies,
                                                  const WordTags& tags,
                                                  const EnglishLexicon& lexicon);

}  // namespace talvori
