// Turns dictionary entries and word frequencies into the answers the agent gives: the cleaned
// English of each Chinese headword, and the best Simplified headword for each English gloss.
// Used by the index tool at build time and by tests; pure functions over their arguments.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace talvori {

// One dictionary entry: a word in both scripts, its reading ("dian4 nao3", capitalised for
// proper names) and its senses, each a text with the dictionary's markup.
struct DictionaryEntry {
  std::string traditional;
  std::string simplified;
  std::string pinyin;
  std::vector<std::string> senses;
};

// How many times each Simplified word was seen in a corpus.
using WordFrequencies = std::unordered_map<std::string, std::uint64_t>;

// The part of speech each Simplified word mostly has in that corpus, as a tag of the ICTCLAS
// set ("n" noun, "v" verb, "vn" verb also used as a noun, "a" adjective, "ns" place name ...).
using WordTags = std::unordered_map<std::string, std::string>;

// How far a gloss stands from the plain present-day meaning of its word: general; narrowed to
// some use by a note ("(of eyes) bright", "(used by an emperor) yes"), which is still a fine
// translation of the word but no sure answer to the bare English; marked as literary, old,
// regional, slang and the like, or a long description; or the literal reading of an idiom.
enum class GlossKind { general, narrowed, qualified, literal };

struct Gloss {
  std::string text;
  GlossKind kind = GlossKind::general;
};

// Another entry that a sense refers to ("variant of 是[shi4]", "see 打傘|打伞[da3 san3]"): its
// headword (the Simplified one when both are given) and reading, which may be empty.
struct Reference {
  std::string headword;
  std::string pinyin;
  friend bool operator==(const Reference&, const Reference&) = default;
};

// A sense split into glosses at ";" and cleaned of markup: parenthesised notes and pinyin in
// brackets removed, "fig." dropped, "sth" and "sb" spelt out; glosses that only refer to another
// entry, give a pronunciation or a classifier, or still hold Chinese characters are left out.
// `reference` is set when the sense makes its entry a variant, abbreviation or cross-reference.
struct CleanSense {
  std::vector<Gloss> glosses;
  std::optional<Reference> reference;
};
CleanSense cleanSense(std::string_view sense);

// The answers by lookup key (see dictionary_text.h): `chinese` maps the key of each Simplified
// and Traditional headword to its English, `english` the key of each gloss to Chinese. Keys
// without a sure answer are absent.
struct DictionaryAnswers {
  std::map<std::string, std::string> chinese;
  std::map<std::string, std::string> english;
};
// `tags` may be empty; words without a tag are taken to be of any part of speech.
DictionaryAnswers buildAnswers(const std::vector<DictionaryEntry>& entries,
                               const WordFrequencies& frequencies, const WordTags& tags = {});

}  // namespace talvori
