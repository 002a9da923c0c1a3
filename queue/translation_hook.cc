#include "queue/translation_hook.h"

#include "base/main_queue.h"
#include "queue/model.h"
#include "queue/translation_service.h"

namespace talvori {

TranslationHook::TranslationHook(Model& model, TranslationService& service, MainQueue& mainQueue)
    : model_(model), service_(service) {
  // The notification comes before the new value is stored, so look again in a later job.
  model_.onWillChange([this, &mainQueue] { mainQueue.post([this] { refresh(); }); });
}

TranslationHook::~TranslationHook() = default;

void TranslationHook::refresh() {
  const auto& configuration = model_.configuration();
  if (!configuration || configuration->identity() == seen_) return;
  seen_ = configuration->identity();
  session_ = service_.makeSession(*configuration);
  model_.perform(*session_, [this] { session_.reset(); });
}

}  // namespace talvori
