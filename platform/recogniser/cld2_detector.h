// CLD2's view of a text: the sample it reads and the languages it names, in BCP 47.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include <unicode/uscript.h>

namespace talvori {

// What CLD2 says of a text.
struct Cld2Verdict {
  // Its answer: the first of its three proposals written in the text's script (CLD2 weighs
  // languages by bytes, which favours scripts with longer UTF-8 encodings), else its top one.
  // None for its unknown, script-only ("xx-Latn") and joke languages.
  std::optional<std::string> answer;
  std::array<std::optional<std::string>, 3> proposals;  // in CLD2's order of weight
};

// `text` with every invalid UTF-8 sequence and every character CLD2 stops at replaced by a space.
std::string cleanForCld2(std::string_view text);

// Evenly spaced windows of `text` starting at words, kCld2Budget bytes in all, joined by line
// feeds; a text within the budget is returned whole.
std::string sampleForCld2(std::string_view text);

// CLD2 reads 15 to 25 MB/s, so a longer text is judged on a sample of this many bytes: plenty to
// weigh the languages of its parts, and the cost of a request on the main thread stays bounded.
inline constexpr size_t kCld2Budget = 16 * 1024;

// Asks CLD2 (best effort, so that short texts get an answer) about `text`, which must be clean
// (see cleanForCld2) and at most kCld2Budget bytes; `script` is the script with most letters.
Cld2Verdict askCld2(std::string_view text, UScriptCode script);

}  // namespace talvori
