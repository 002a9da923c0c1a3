// Traditional Chinese written in Simplified characters.
#pragma once

#include <string>
#include <string_view>

namespace talvori {

// `text` with each Traditional character replaced by its Simplified form ("電腦" gives "电脑");
// every other character, and any byte sequence that is not UTF-8, stays as it is. Character by
// character, from a table made at build time from ICU's Hant-Hans transliteration: a character
// whose Simplified form depends on the word around it gets its usual one. Any thread.
std::string simplifyHan(std::string_view text);

}  // namespace talvori
