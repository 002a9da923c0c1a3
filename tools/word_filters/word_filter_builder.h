// Builds the word filters that platform/word_filter.h reads: one blocked Bloom filter per language.
#pragma once

#include <string>
#include <unordered_set>
#include <vector>

namespace talvori {

struct WordFilterSource {
  std::string language;  // BCP 47, at most 8 bytes
  // Bits of filter per word: more bits make fewer false matches (16 give under 0.1%, 10 about 1%).
  double bitsPerWord = 0;
  std::unordered_set<std::string> words;  // as they will be looked up (lower case)
};

// The bytes of a word filter file holding one filter per source, in order.
std::string buildWordFilters(const std::vector<WordFilterSource>& sources);

}  // namespace talvori
