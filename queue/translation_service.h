// The on-device translation service: which language pairs it can translate, and sessions that
// translate.
//
// Every call is made on the main thread. Asynchronous answers (availability, translations) are
// delivered later on the main thread, exactly once each, never from inside the call that asked
// for them. Failures are values: an availability query about a text may fail (none), and a
// translation may fail (none); neither throws.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "queue/language.h"

namespace talvori {

// What the service can do for a language pair. Only installed and unsupported are told apart by
// the queue; every other value means usable once the pair's language data is installed.
enum class AvailabilityStatus { installed, supported, unsupported };

// A language pair that the status view watches. Each value has an identity of its own, and
// invalidate() gives it a fresh one, so that a watcher treats it as new and starts another
// session for it. Main thread only.
class TranslationConfiguration {
 public:
  TranslationConfiguration(std::optional<Language> source, Language target);

  const std::optional<Language>& source() const { return source_; }
  const Language& target() const { return target_; }
  std::uint64_t identity() const { return identity_; }

  void invalidate();

 private:
  std::optional<Language> source_;
  Language target_;
  std::uint64_t identity_;
};

// Answers availability questions; the queue makes one per dispatched request that needs it.
// The object may be destroyed before its answer arrives; the answer is delivered all the same.
class LanguageAvailability {
 public:
  using StatusCallback = std::function<void(AvailabilityStatus)>;
  using TextStatusCallback = std::function<void(std::optional<AvailabilityStatus>)>;

  virtual ~LanguageAvailability() = default;

  // The status of translating from `from` into `to`. Never fails.
  virtual void statusFrom(const Language& from, const Language& to, StatusCallback done) = 0;

  // The status of translating `text`, whose language was not recognised, into `to`. Gives none
  // when the service cannot answer for the text.
  virtual void statusFor(std::string text, const Language& to, TextStatusCallback done) = 0;
};

// Translates texts for one configuration's pair. A light handle: it is used only while the
// status view's action runs and is destroyed afterwards, after its last answer has arrived.
class TranslationSession {
 public:
  using TranslateCallback = std::function<void(std::optional<std::string>)>;

  virtual ~TranslationSession() = default;

  // Translates `text` (UTF-8, untrimmed). `done` receives the translated text, possibly empty,
  // or none when the translation failed for any reason.
  virtual void translate(std::string text, TranslateCallback done) = 0;
};

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
