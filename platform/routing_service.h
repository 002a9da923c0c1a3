// The agent's translation service: each language pair goes to the engine, or the engines in
// turn, that serve it.
#pragma once

#include <memory>
#include <optional>

#include "queue/language.h"
#include "queue/translation_service.h"

namespace talvori {

// How a pair is translated.
enum class Route {
  // Apertium alone.
  apertium,
  // The dictionary alone: a text of unknown language into English or Simplified Chinese.
  dictionary,
  // Chinese into English, English into Simplified Chinese: the dictionary, and the sentence
  // engine for every text the dictionary declines.
  dictionaryThenSentences,
  // Into Simplified Chinese from any other language: Apertium into English, then the English as
  // dictionaryThenSentences translates it.
  throughEnglish,
  // Traditional Chinese into Simplified: the script conversion.
  script,
};

// The route from `from` (none for a text of unknown language) into `to`.
Route routeFor(const std::optional<Language>& from, const Language& to);

// A service that answers each question and makes each session along routeFor's route.
//
// Availability: Apertium's, the dictionary's or the script conversion's own for their routes.
// For Chinese and English: installed when the dictionary answers the text (so that such a text
// never waits for a model, and shows no panel); else the sentence engine's status while it can
// serve the pair (installed or supported), else the dictionary's for the pair, so that without
// the sentence engine the pair is served as by the dictionary alone. Through English:
// unsupported when either step is, installed when both are, else supported; the second step is
// the sentence engine's, since the English text is not known yet. The engines of a route are
// asked at once. A question about a text of unknown language goes to the dictionary when it
// could serve the target, else to Apertium.
//
// Main thread only, like the services it owns; the answers come from them, on the main thread.
std::unique_ptr<TranslationService> makeRoutingService(
    std::unique_ptr<TranslationService> apertium, std::unique_ptr<TranslationService> dictionary,
    std::unique_ptr<TranslationService> sentences, std::unique_ptr<TranslationService> script);

}  // namespace talvori
