// TranslationService: the on-device translation service, which makes availability objects and
// translation sessions.
//
// Every call is made on the main thread and cannot fail. What the objects it makes promise is
// stated in their own headers.
#pragma once

#include <memory>

#include "queue/language_availability.h"
#include "queue/translation_configuration.h"
#include "queue/translation_session.h"

namespace talvori {

class TranslationService {
 public:
  virtual ~TranslationService() = default;

  // A fresh availability object. The service outlives it.
  virtual std::unique_ptr<LanguageAvailability> makeAvailability() = 0;

  // A session for the configuration's source and target languages. Never null: a session for a
  // pair that cannot be translated fails each translation instead.
  virtual std::unique_ptr<TranslationSession> makeSession(
      const TranslationConfiguration& configuration) = 0;
};

}  // namespace talvori
