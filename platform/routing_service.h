// The agent's translation service: each language pair goes to the engine that serves it.
#pragma once

#include <memory>
#include <optional>

#include "queue/language.h"
#include "queue/translation_service.h"

namespace talvori {

enum class Engine { apertium, dictionary, script };

// The engine for translating from `from` (none for a text of unknown language) into `to`: the
// script conversion for Traditional Chinese into Simplified, the dictionary for Chinese to
// English and English to Simplified Chinese (and for an unknown text into either), Apertium for
// everything else.
Engine engineFor(const std::optional<Language>& from, const Language& to);

// A service that hands each question to `apertium`, `dictionary` or `script` as engineFor
// decides. A question about a text of unknown language goes to the dictionary when it could
// serve the target, else to Apertium. Main thread only, like the services it owns; the answers
// come from them, on the main thread.
std::unique_ptr<TranslationService> makeRoutingService(
    std::unique_ptr<TranslationService> apertium, std::unique_ptr<TranslationService> dictionary,
    std::unique_ptr<TranslationService> script);

}  // namespace talvori
