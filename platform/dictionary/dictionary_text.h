// Lookup keys: the one form of a text under which the dictionary files, and later finds, its
// answer. The index builder and the agent both make keys with these functions, so a text finds
// an entry exactly when the two keys are equal. Pure functions, callable from any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace talvori {

// The longest key the index holds, in bytes (its records give a key's length in one byte).
inline constexpr std::size_t kLongestDictionaryKey = 255;

// Both keys first put a text in one normal form: invisible characters (byte-order mark,
// zero-width spaces and joiners, soft hyphen, controls) are dropped, compatibility forms that
// mean the same become their plain form (full- and half-width forms, ligatures such as "ﬁ";
// not superscripts or fractions), and accents written as combining marks are composed (NFC).
// A text with more letters and digits than a key of kLongestDictionaryKey bytes could hold has
// no key: both give an empty one without normalising it, so a long text costs no copy.
//
// The key of a Chinese text: that normal form with surrounding white space and punctuation
// (quotes, brackets, full stops, commas and the like, Chinese or ASCII) removed. Empty when
// nothing is left or the text is not valid UTF-8.
std::string chineseKey(std::string_view text);

// The key of an English text: the normal form above, letters in lower case, runs of white
// space made one space, surrounding white space and punctuation removed, curly apostrophes made
// straight, and one leading "a ", "an " or "the " dropped, so that "The Hague" and "hague" meet.
// Empty when no letter is left or the text is not valid UTF-8.
std::string englishKey(std::string_view text);

// Whether `text` holds a Han character (CJK ideographs and their extensions).
bool containsHan(std::string_view text);

// Whether the key of `text` may hold a Han character: false when every code point lies below
// U+2E80, where no Han character, CJK radical or compatibility ideograph (which fold into Han
// characters) is. Reads the text once and copies nothing.
bool mayKeyHan(std::string_view text);

}  // namespace talvori
