// Reads CC-CEDICT's entries: cleans the markup of their senses into plain glosses, finds the
// entries each sense refers to, and files the entries under their headwords. Used by the index
// tool at build time and by tests; pure functions and an immutable structure.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
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

// How far a gloss stands from the plain present-day meaning of its word: general; narrowed to
// some use by a note ("(of eyes) bright", "(used by an emperor) yes"), which is still a fine
// translation of the word but no sure answer to the bare English; marked as literary, old,
// regional, slang and the like, or a long description; or the literal reading of an idiom.
enum class GlossKind { general, narrowed, qualified, literal };

struct Gloss {
  std::string text;
  GlossKind kind = GlossKind::general;
  // Whether a note gives it as the word's sense in computing ("(computing) to save (a file
  // etc)", "menu (software)", "to paste (as in "copy and paste")").
  bool computing = false;
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

// An entry with its senses cleaned: the senses that kept glosses, in order, and the entries its
// senses refer to.
struct CleanEntry {
  std::vector<std::vector<Gloss>> senses;
  std::vector<Reference> references;
  bool properName = false;
  // A set phrase: one of its senses is marked "(idiom)", or it has four characters and a literal
  // reading ("lit. spider's thread and horse track").
  bool idiom = false;
  // A word with the suffix 儿 of the Beijing dialect ("r5" ending its reading): colloquial.
  bool erhua = false;
};

// The entries of a dictionary, each with its cleaned senses, and the entries filed under each
// headword's key (see dictionary_text.h). Holds a reference to the entries, which must outlive
// it.
class CleanDictionary {
 public:
  explicit CleanDictionary(const std::vector<DictionaryEntry>& entries);

  const std::vector<DictionaryEntry>& entries() const { return entries_; }
  const CleanEntry& clean(std::size_t i) const { return clean_[i]; }
  // The entries whose Simplified or Traditional headword has each key, in dictionary order.
  const std::map<std::string, std::vector<std::size_t>>& byHeadword() const { return byHeadword_; }

  // The glosses of entry `i`, or those of the entry it refers to when it has none of its own.
  std::vector<std::vector<Gloss>> sensesOf(std::size_t i, std::size_t depth = 0) const;

 private:
  const std::vector<DictionaryEntry>& entries_;
  std::vector<CleanEntry> clean_;
  std::map<std::string, std::vector<std::size_t>> byHeadword_;
};

}  // namespace talvori
