// Lookup keys: the one form of a text under which the dictionary files, and later finds, its
// answer. The index builder and the agent both make keys with these functions, so a text finds
// an entry exactly when the two keys are equal. Pure functions, callable from any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace talvori {

// The key of a Chinese text: full-width ASCII forms become ASCII, half-width CJK punctuation
// becomes full-width, and surrounding white space and punctuation (quotes, brackets, full stops,
// commas and the like, Chinese or ASCII) are removed. Empty when nothing is left or the text is
// not valid UTF-8.
std::string chineseKey(std::string_view text);

// The key of an English text: widths normalised as above, letters in lower case, runs of white
// space made one space, surrounding white space and punctuation removed, curly apostrophes made
// straight, and one leading "a ", "an " or "the " dropped, so that "The Hague" and "hague" meet. Empty when no letter is left or the text is not valid UTF-8.
std::string englishKey(std::string_view text);

// The keys an English plural's singular may have, most likely first, for a key that has no entry
// of its own: "tasks" gives "task", "boxes" "box" and "boxe", "entries" "entry", "entri" and
// "entrie".
// Only the last word changes ("file systems" gives "file system"); words ending in "ss", "us" or
// "is", and words of three letters or fewer, give none.
std::vector<std::string> singularKeys(std::string_view key);

// Whether `text` holds a Han character (CJK ideographs and their extensions).
bool containsHan(std::string_view text);

}  // namespace talvori
