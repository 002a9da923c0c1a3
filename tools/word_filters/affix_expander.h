// Expands a spelling dictionary (an affix file and a stem list in the common .aff/.dic format)
// into the word forms it accepts.
//
// Stems take their suffixes, the suffixes their continuation suffixes (two levels), and prefixes
// combine with both where the rules allow. Prefixes that end in an apostrophe or a hyphen (elided
// articles "l'", "dell'"; "ultra-") are not joined to stems: the recogniser reads such a word as
// two, so the elided article is given once as a form of its own ("l'"). Suffixes written with
// hyphens (Portuguese enclitics "-lhe") give their parts as forms. Forbidden words, words only
// allowed inside compounds, and affixes needing an affix (or the other half of a circumfix) that
// they do not get are left out.
#pragma once

#include <string>
#include <vector>

namespace talvori {

struct ExpansionOptions {
  // Stems that begin with a capital letter are names and left out, unless this is set (German
  // writes every noun so).
  bool keepCapitalised = false;
  bool stemsOnly = false;  // the stems alone, without affixes
  // Leaves out continuation suffixes (the Galician list chains pronouns onto verb forms that way,
  // a hundred times its other forms).
  bool oneLevel = false;
  // Leaves out affixes that add more characters (the Italian list spells out every verb form with
  // every chain of attached pronouns, twenty times the forms of its other words).
  size_t maxAdd = std::string::npos;
  size_t minLength = 0;  // gives only forms of this many characters or more
};

// The forms of the dictionary at `affPath` and `dicPath` (UTF-8), in lower case, sorted and
// without repeats; none if the files cannot be read.
std::vector<std::string> expandDictionary(const std::string& affPath, const std::string& dicPath,
                                          const ExpansionOptions& options);

}  // namespace talvori
