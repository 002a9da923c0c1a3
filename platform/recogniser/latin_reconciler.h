// Second opinion on short Latin-script text, where CLD2 alone often misnames the main languages
// (English, Spanish, French, German) and confuses them with their close relatives.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/recogniser/cld2_detector.h"

namespace talvori {

// Texts longer than this give CLD2 over a hundred words, enough for its answer to be dependable,
// and may mix languages, which CLD2 weighs by their share of the text and a count of telltale
// words does not; they keep CLD2's answer.
inline constexpr size_t kReconcileMaxBytes = 1024;

// The language of `text` (valid UTF-8, Latin the script with most letters, at most
// kReconcileMaxBytes) given what CLD2 said of it; none when neither CLD2 nor our own evidence
// names one. Main thread only: the profiles' scratch storage is shared.
std::optional<std::string> reconcileLatin(std::string_view text, const Cld2Verdict& cld2);

}  // namespace talvori
