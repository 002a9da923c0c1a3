// What the dictionary's builder knows of English words: their parts of speech, the base form of
// each inflected form, and which words are mostly verbs. Read from WordNet (its lemma lists, its
// lists of irregular forms and the sense counts of its tagged corpus) and a word list that holds
// inflected forms. Used by the index tool at build time and by tests.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace talvori {

enum class PartOfSpeech : std::uint8_t { noun = 1, verb = 2, adjective = 4, adverb = 8 };

// How an inflected form stands to its base form.
enum class Inflection { plural, past, presentParticiple };

struct EnglishLexicon {
  // Each lemma (lower case, words joined by spaces) with the parts of speech it has, as bits.
  std::unordered_map<std::string, std::uint8_t> lemmas;
  // Irregular forms: a form with its base forms and their part of speech ("sent": "send", verb).
  std::unordered_map<std::string, std::vector<std::pair<std::string, PartOfSpeech>>> exceptions;
  // Words of a word list, inflected forms included ("files", "clipped").
  std::vector<std::string> words;
  // How many times a tagged corpus used each lemma as a verb and as anything else.
  struct Usage {
    std::uint32_t verb = 0;
    std::uint32_t other = 0;
    std::uint32_t adjective = 0;
  };
  std::unordered_map<std::string, Usage> usage;
  // The meanings of each lemma, WordNet's synsets, commonest first for each part of speech, each
  // with its rank there (0 for the commonest).
  struct Meaning {
    std::uint32_t synset;
    std::uint32_t rank;
  };
  std::unordered_map<std::string, std::vector<Meaning>> meanings;
  // Pairs of synsets of adjectives similar in meaning ("ancient" and "old"), each pair both ways,
  // as `synset << 32 | other`.
  std::unordered_set<std::uint64_t> similar;
  // Pairs of lemmas derived one from the other ("die" and "death"), both ways, as "a\tb".
  std::unordered_set<std::string> derived;
};

// Whether lemmas `a` and `b` mean the same in one of their `senses` commonest meanings of a part
// of speech: they share a synset ("cause" and "reason"), are similar adjectives ("ancient" and
// "old"), or one is derived from the other ("die" and "death").
bool synonymous(const EnglishLexicon& lexicon, const std::string& a, const std::string& b,
                std::uint32_t senses);

// Whether `word` is mostly a verb: the tagged corpus used it as one at least three times and more
// than one and a half times as often as anything else ("cut", "save", "open"; not "view",
// "close").
bool mostlyVerb(const EnglishLexicon& lexicon, const std::string& word);
// Whether `word` is mostly an adjective, by the same measure ("special", "alert"; not "initial").
bool mostlyAdjective(const EnglishLexicon& lexicon, const std::string& word);

struct InflectedForm {
  std::string form;
  Inflection inflection;
};

// The inflected forms of each base form: the plurals of nouns, and the past forms and
// participles of verbs, among the lexicon's words and irregular forms. Each form is reduced to
// its base as WordNet does it: an irregular form by its list ("sent": "send", "theses": "thesis",
// "clipped": "clip"), a regular one by taking off its ending ("aligned": "align"); a base counts
// only when it is a lemma of that part of speech, so that "theses" is never a form of "these".
// A form with two bases ("leaves": "leaf", "leave") belongs to both.
std::unordered_map<std::string, std::vector<InflectedForm>> inflectedForms(
    const EnglishLexicon& lexicon);

// Reads WordNet's index, data and exception lists and its cntlist.rev in `wordnetDirectory`, and
// the word list at `wordsPath` (one word a line; words with capitals, digits or apostrophes are
// left out). Throws std::runtime_error when a file cannot be read.
EnglishLexicon readEnglishLexicon(const std::string& wordnetDirectory,
                                  const std::string& wordsPath);

}  // namespace talvori
