// The English answers for Chinese headwords: of the entries sharing a headword, one entry's
// cleaned glosses. Used by the index tool at build time and by tests; a pure function.
#pragma once

#include <map>
#include <string>

#include "tools/dictionary_index/dictionary_markup.h"

namespace talvori {

// The English filed under the key (see dictionary_text.h) of each Simplified and Traditional
// headword that has a sure answer.
std::map<std::string, std::string> chineseAnswers(const CleanDictionary& dictionary);

}  // namespace talvori
