// The Linux language recogniser: Unicode scripts settle East Asian text, CLD2 the rest.
#pragma once

#include <memory>

#include "queue/language_recogniser.h"

namespace talvori {

// Makes a fresh recogniser for one text; cheap enough to call once per request.
//
// The answer is a BCP 47 code: "zh-Hans" or "zh-Hant" for Chinese (never bare "zh"), "ja", "ko",
// and CLD2's language for other scripts ("en", "es", "he", ...). Text without letters, or text
// whose letters match no language, gives none. Any bytes are accepted: invalid UTF-8 and control
// characters are set aside, never passed to CLD2.
//
// Main thread only: all recognisers share, without locking, ICU transliterators and a
// per-character Simplified/Traditional table that are built lazily on first use.
std::unique_ptr<LanguageRecogniser> makeRecogniser();

}  // namespace talvori
