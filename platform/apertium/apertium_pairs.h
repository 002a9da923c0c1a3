// Language codes and language pairs as Apertium names them.
//
// Apertium names languages by ISO 639-3 codes ("spa", "eng"); older pairs name their modes by
// ISO 639-1 codes ("eu-en"). The queue speaks BCP 47 ("es", "en-US"). These functions translate
// between the two and find which directions are installed or could be installed from Debian.
// Pure functions over their arguments and the file system; callable from any thread.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "queue/language.h"

namespace talvori {

// The ISO 639-3 code Apertium uses for a language; only its primary subtag counts ("en-US"
// gives "eng", "hr" gives "hbs"). None when the language is not one Apertium is known to name.
std::optional<std::string> apertiumLanguage(const Language& language);

// The same for a BCP 47 code or a two- or three-letter code found in a mode name.
std::optional<std::string> apertiumLanguage(std::string_view code);

// The Debian package that carries the direction `from`-`to` (ISO 639-3 codes), or none when
// Debian carries no Apertium data for that direction.
std::optional<std::string> debianPackageFor(std::string_view from, std::string_view to);

// The mode file in `modesDirectory` that translates `from` into `to` (ISO 639-3 codes). Mode
// names may use two- or three-letter codes; a plain "spa-eng.mode" is preferred over variants
// such as "spa-eng_US.mode", which are used only when no plain mode exists.
std::optional<std::filesystem::path> findMode(const std::filesystem::path& modesDirectory,
                                              std::string_view from, std::string_view to);

}  // namespace talvori
