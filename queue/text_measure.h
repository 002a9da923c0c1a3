// Measures of request texts used by admission: blankness and length in user-perceived characters.
#pragma once

#include <cstddef>
#include <string_view>

namespace talvori {

// Whether `text` (UTF-8) holds nothing but whitespace and newlines: general category Z, U+0009 to
// U+000D and U+0085. An empty text is blank.
bool isBlank(std::string_view text);

// The number of extended grapheme clusters in `text` (UTF-8), counting no further than one past
// `limit`: the result is min(count, limit + 1). Ill-formed bytes count as U+FFFD would.
// Callable from any thread: each thread keeps a break iterator of its own.
std::size_t countCharacters(std::string_view text, std::size_t limit);

}  // namespace talvori
