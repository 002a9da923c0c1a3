// The script census of a text: its letters counted by Unicode script, and the East Asian
// decision that scripts alone settle (Japanese, Korean, Simplified or Traditional Chinese).
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include <unicode/uscript.h>

namespace talvori {

// Letters of one text counted by script. Letters shared between scripts count for the East Asian
// script they serve: the prolonged sound mark "ー" is kana, the iteration mark "々" is Han.
struct ScriptCensus {
  std::array<int, USCRIPT_CODE_LIMIT> letters{};
  bool hasLetters = false;
  bool needsCleaning = false;  // holds invalid UTF-8 or characters CLD2 stops at
  // Letters that only Esperanto writes: ĉ ĝ ĥ ĵ ŝ ŭ, in either case.
  int esperantoLetters = 0;
  // The script with most letters outside the East Asian ones, or USCRIPT_INVALID_CODE.
  UScriptCode strongest = USCRIPT_INVALID_CODE;
};

// Counts the letters of `text` (any bytes; invalid UTF-8 counts as no letter).
ScriptCensus takeScriptCensus(std::string_view text);

// Whether CLD2 accepts the code point `c` in text: it stops at control characters (other than
// tab, line feed, form feed and carriage return) and at noncharacters.
bool isInterchangeable(char32_t c);

// "eo" when letters that only Esperanto writes make up a fair share of the Latin letters (one in
// fifty or more; a name or a quoted word in another language stays below that), else none. The
// engine's statistics have no Esperanto, so without this its texts would never be called so.
std::optional<std::string> languageOfOwnLetters(const ScriptCensus& census);

// The language that scripts alone give `text`, when its East Asian letters (an ideograph, kana or
// a Hangul syllable weighing as much as three alphabetic letters) outweigh its strongest other
// script: "ko" when Hangul outnumbers kana, "ja" for any kana, otherwise Chinese, "zh-Hant" when
// Traditional-only characters (and Bopomofo) outnumber Simplified-only ones, else "zh-Hans".
// None when another script wins.
std::optional<std::string> eastAsianLanguage(std::string_view text, const ScriptCensus& census);

}  // namespace talvori
