// LanguageAvailability: which language pairs the translation service can translate.
//
// Made by the translation service on the main thread, once per dispatched request that needs it.
// Answers are delivered later on the main thread, exactly once each, never from inside the call
// that asked, and even when the object has been destroyed in between. Failures are values.
#pragma once

#include <functional>
#include <optional>
#include <string_view>

#include "queue/language.h"

namespace talvori {

// What the service can do for a language pair. Only installed and unsupported are told apart by
// the queue; every other value means usable once the pair's language data is installed.
enum class AvailabilityStatus { installed, supported, unsupported };

class LanguageAvailability {
 public:
  using StatusCallback = std::function<void(AvailabilityStatus)>;
  using TextStatusCallback = std::function<void(std::optional<AvailabilityStatus>)>;

  virtual ~LanguageAvailability() = default;

  // The status of translating from `from` into `to`. Never fails.
  virtual void statusFrom(const Language& from, const Language& to, StatusCallback done) = 0;

  // The status of translating `text`, whose language was not recognised, into `to`. Gives none
  // when the service cannot answer for the text. The text is read during the call only: a
  // service that needs it later keeps a copy.
  virtual void statusFor(std::string_view text, const Language& to, TextStatusCallback done) = 0;
};

}  // namespace talvori
