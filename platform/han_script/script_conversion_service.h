// The translation service that writes Traditional Chinese in Simplified characters.
#pragma once

#include <memory>
#include <optional>

#include "base/main_queue.h"
#include "queue/language.h"
#include "queue/translation_service.h"

namespace talvori {

// Whether translating from `from` into `to` is only a change of script: Traditional Chinese
// (script Hant, or no script and the region of Taiwan, Hong Kong or Macao) into Simplified
// Chinese (script Hans, or no script and any other region).
bool isScriptConversion(const std::optional<Language>& from, const Language& to);

// A service for that one kind of pair, always installed: a session answers with the text written
// in Simplified characters (simplifyHan). Every other pair is unsupported, and a text of unknown
// language gets no answer. Main thread only; answers are posted to `mainQueue`, which must
// outlive the service and everything it makes.
std::unique_ptr<TranslationService> makeScriptConversionService(MainQueue& mainQueue);

}  // namespace talvori
