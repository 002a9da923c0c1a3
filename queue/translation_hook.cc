#include "queue/translation_hook.h"

#include "queue/model.h"
#include "queue/translation_service.h"

namespace talvori {

TranslationHook::TranslationHook(Model& model, TranslationService& service)
    : model_(model), service_(service) {
  model_.onChange([this] { refresh(); });
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
