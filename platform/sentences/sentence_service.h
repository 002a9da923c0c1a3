// The translation service on the sentence engine: whole texts between Chinese and English, one
// engine process per direction, each direction's model installed on first use.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "base/main_queue.h"
#include "platform/sentences/engine_process.h"
#include "platform/sentences/model_store.h"
#include "platform/sentences/sentence_direction.h"
#include "queue/language.h"
#include "queue/translation_service.h"

namespace talvori {

struct SentenceOptions {
  // What runs the engine, asked afresh for each question and translation, so that Node.js
  // installed while the agent runs is used; none while Node.js or the engine's files are missing.
  std::function<std::optional<SentenceEngine>()> engine = [] { return findSentenceEngine(); };
  // Where each direction's model is, and its install on first use; it must outlive the service.
  // Without one no model is installed or downloadable.
  ModelStore* store = nullptr;
  // How long an engine process may take to load its model and become ready.
  std::chrono::milliseconds loadTimeout{std::chrono::seconds(60)};
  // How long one translation may take once the engine is ready: this much, plus
  // `timeoutPerThousandCharacters` for each 1,000 characters of the text.
  std::chrono::milliseconds timeout{std::chrono::seconds(10)};
  std::chrono::milliseconds timeoutPerThousandCharacters{std::chrono::seconds(20)};
  // An engine process that has had nothing to translate for this long is ended: its memory
  // never shrinks while it runs. The next translation starts it again.
  std::chrono::milliseconds idleEnd{std::chrono::minutes(3)};
};

// The direction that translates from `from` into `to`: Chinese (Simplified, Traditional or
// unmarked) into English, or English into Simplified Chinese; none for every other pair and for
// a text of unknown language.
std::optional<SentenceDirection> sentenceDirection(const std::optional<Language>& from,
                                                   const Language& to);

// A translation service for the two sentence directions. A direction is installed when the
// engine is there and the store holds its model, supported when the engine is there and the
// store can download the model, and unsupported otherwise; it cannot tell the language of a
// text. A translation installs the direction's model first when it is missing (the store shows
// its progress), then runs on the direction's engine process, started by the first translation
// that needs it (never before) on a worker thread of the direction, and replaced after any fault
// of the engine; the translation then fails. Chinese text is written in Simplified characters
// before it reaches the engine, whose models learnt from Simplified text.
//
// Every call is made on the main thread; answers are posted to `mainQueue`, which must outlive
// the service and its sessions. Sessions may outlive the service and then fail. Engine
// processes end when the service is destroyed (after a translation in progress, which its
// deadline bounds) and with the process when it exits without running destructors.
std::unique_ptr<TranslationService> makeSentenceService(MainQueue& mainQueue,
                                                        SentenceOptions options = {});

}  // namespace talvori
