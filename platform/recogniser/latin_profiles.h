// Compact word-and-letter profiles of the Latin-script languages the recogniser must tell apart:
// English, Spanish, French and German, and the close relatives CLD2 confuses them with.
#pragma once

#include <span>
#include <string_view>

namespace talvori {

// One profiled language and the evidence for it in a text.
struct ProfileScore {
  std::string_view language;  // BCP 47, as the recogniser answers ("es", "pt", "no", ...)
  double score = 0;
  double words = 0;        // the part of the score that its words give
  int foreignLetters = 0;  // letters of the text outside its alphabet
};

// Scores `text` (valid UTF-8) against every profile, adding up for each language:
// - 2 points for each of its most frequent words in the text, 1 for its other common words;
// - 1 point for each letter of its alphabet beyond ASCII ("ñ", "ß", "ç"), and -1 for each letter
//   outside it, so that accents tell relatives apart and rule out languages written without them;
// - 0.5 for each characteristic spelling or word ending ("ción", "ção", "sch", ...).
// Scores grow with the length of the text; what matters is how they compare. The span refers to
// storage that the next call overwrites. Main thread only.
std::span<const ProfileScore> scoreLatinProfiles(std::string_view text);

// How many signs in `text` (valid UTF-8) set `relative` apart from `main`, two profiled languages:
// letters of the relative's alphabet outside the main language's ("ç", "ã" against Spanish),
// words of the relative's lists that the main language's lists lack ("unha", "che", "de" against
// German), and the relative's characteristic spellings ("lh", "ny", "gli", "ij"; each counted
// once). 0 when either language has no profile. Main thread only.
int distinctiveEvidence(std::string_view text, std::string_view relative, std::string_view main);

// How many words of `text` (valid UTF-8) are in some other profile's word lists but not in those
// of `language`, a profiled language ("die", "la", "sin" against English): words that point to
// another language. Main thread only.
int foreignWords(std::string_view text, std::string_view language);

// Whether `language` (a CLD2 answer in BCP 47) has a profile, or is an alternative code of one
// ("ms" for the Indonesian and Malay profile "id"); gives the profile's code, empty if none.
std::string_view latinProfileOf(std::string_view language);

}  // namespace talvori
