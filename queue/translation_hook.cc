#include "queue/translation_hook.h"

#include "protocol/main_queue.h"
#include "queue/model.h"

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
  sessions_.push_front(service_.makeSession(*configuration));
  auto session = sessions_.begin();
  model_.perform(**session, [this, session] { sessions_.erase(session); });
}

}  // namespace talvori
