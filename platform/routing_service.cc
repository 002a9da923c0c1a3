#include "platform/routing_service.h"

#include <utility>

#include "platform/dictionary/dictionary_service.h"
#include "platform/han_script/script_conversion_service.h"

namespace talvori {

namespace {

using StatusCallback = LanguageAvailability::StatusCallback;
using TranslateCallback = TranslationSession::TranslateCallback;

Language english() { return Language("en"); }

struct Services {
  std::unique_ptr<TranslationService> apertium;
  std::unique_ptr<TranslationService> dictionary;
  std::unique_ptr<TranslationService> sentences;
  std::unique_ptr<TranslationService> script;
};

// Each engine's own availability object, made on first need and kept, so that its answers
// follow its own rules for delivery. Shared with the questions still waiting for an engine's
// answer to ask the next one, which may outlive the routing availability object.
class Askers {
 public:
  explicit Askers(Services& services) : services_(services) {}

  LanguageAvailability& apertium() { return made(apertium_, *services_.apertium); }
  LanguageAvailability& dictionary() { return made(dictionary_, *services_.dictionary); }
  LanguageAvailability& sentences() { return made(sentences_, *services_.sentences); }
  LanguageAvailability& script() { return made(script_, *services_.script); }

 private:
  static LanguageAvailability& made(std::unique_ptr<LanguageAvailability>& availability,
                                    TranslationService& service) {
    if (!availability) availability = service.makeAvailability();
    return *availability;
  }

  Services& services_;
  std::unique_ptr<LanguageAvailability> apertium_;
  std::unique_ptr<LanguageAvailability> dictionary_;
  std::unique_ptr<LanguageAvailability> sentences_;
  std::unique_ptr<LanguageAvailability> script_;
};

// Chinese and English: the sentence engine's status when it can serve the pair, else the
// dictionary's.
void askChineseEnglish(const std::shared_ptr<Askers>& askers, const Language& from,
                       const Language& to, StatusCallback done) {
  askers->sentences().statusFrom(
      from, to, [askers, from, to, done = std::move(done)](AvailabilityStatus status) mutable {
        if (status != AvailabilityStatus::unsupported) {
          done(status);
          return;
        }
        askers->dictionary().statusFrom(from, to, std::move(done));
      });
}

class RoutingAvailability : public LanguageAvailability {
 public:
  explicit RoutingAvailability(Services& services) : askers_(std::make_shared<Askers>(services)) {}

  void statusFrom(const Language& from, const Language& to, StatusCallback done) override {
    switch (routeFor(from, to)) {
      case Route::apertium:
        askers_->apertium().statusFrom(from, to, std::move(done));
        return;
      case Route::dictionary:
        askers_->dictionary().statusFrom(from, to, std::move(done));
        return;
      case Route::script:
        askers_->script().statusFrom(from, to, std::move(done));
        return;
      case Route::dictionaryThenSentences:
        askChineseEnglish(askers_, from, to, std::move(done));
        return;
      case Route::throughEnglish:
        askers_->apertium().statusFrom(
            from, english(),
            [askers = askers_, to, done = std::move(done)](AvailabilityStatus first) mutable {
              if (first == AvailabilityStatus::unsupported) {
                done(first);
                return;
              }
              askers->sentences().statusFrom(
                  english(), to, [first, done = std::move(done)](AvailabilityStatus second) {
                    if (second == AvailabilityStatus::unsupported) {
                      done(second);
                    } else if (first == AvailabilityStatus::installed &&
                               second == AvailabilityStatus::installed) {
                      done(AvailabilityStatus::installed);
                    } else {
                      done(AvailabilityStatus::supported);
                    }
                  });
            });
        return;
    }
  }

  void statusFor(std::string_view text, const Language& to, TextStatusCallback done) override {
    LanguageAvailability& asked = routeFor(std::nullopt, to) == Route::dictionary
                                      ? askers_->dictionary()
                                      : askers_->apertium();
    asked.statusFor(text, to, std::move(done));
  }

 private:
  const std::shared_ptr<Askers> askers_;
};

// Chinese and English: the dictionary's answer, else the sentence engine's.
class DictionaryThenSentences : public TranslationSession {
 public:
  DictionaryThenSentences(Services& services, const TranslationConfiguration& configuration)
      : dictionary_(services.dictionary->makeSession(configuration)),
        sentences_(services.sentences->makeSession(configuration)) {}

  void translate(std::string text, TranslateCallback done) override {
    // The text is kept for the second engine; the sessions live until the last answer.
    auto kept = std::make_shared<std::string>(text);
    dictionary_->translate(std::move(text), [sentences = sentences_, kept, done = std::move(done)](
                                                std::optional<std::string> answer) mutable {
      if (answer) {
        done(std::move(answer));
        return;
      }
      sentences->translate(std::move(*kept), std::move(done));
    });
  }

 private:
  const std::shared_ptr<TranslationSession> dictionary_;
  const std::shared_ptr<TranslationSession> sentences_;
};

// Apertium into English, then English into Chinese.
class ThroughEnglish : public TranslationSession {
 public:
  ThroughEnglish(Services& services, const TranslationConfiguration& configuration)
      : intoEnglish_(services.apertium->makeSession(
            TranslationConfiguration(configuration.source(), english()))),
        fromEnglish_(std::make_shared<DictionaryThenSentences>(
            services, TranslationConfiguration(english(), configuration.target()))) {}

  void translate(std::string text, TranslateCallback done) override {
    intoEnglish_->translate(std::move(text), [next = fromEnglish_, done = std::move(done)](
                                                 std::optional<std::string> english) mutable {
      if (!english) {
        done(std::nullopt);
        return;
      }
      next->translate(std::move(*english), std::move(done));
    });
  }

 private:
  const std::shared_ptr<TranslationSession> intoEnglish_;
  const std::shared_ptr<TranslationSession> fromEnglish_;
};

class RoutingService : public TranslationService {
 public:
  explicit RoutingService(Services services) : services_(std::move(services)) {}

  std::unique_ptr<LanguageAvailability> makeAvailability() override {
    return std::make_unique<RoutingAvailability>(services_);
  }

  std::unique_ptr<TranslationSession> makeSession(
      const TranslationConfiguration& configuration) override {
    switch (routeFor(configuration.source(), configuration.target())) {
      case Route::apertium:
        return services_.apertium->makeSession(configuration);
      case Route::dictionary:
        return services_.dictionary->makeSession(configuration);
      case Route::script:
        return services_.script->makeSession(configuration);
      case Route::dictionaryThenSentences:
        return std::make_unique<DictionaryThenSentences>(services_, configuration);
      case Route::throughEnglish:
        return std::make_unique<ThroughEnglish>(services_, configuration);
    }
    return services_.apertium->makeSession(configuration);
  }

 private:
  Services services_;
};

}  // namespace

Route routeFor(const std::optional<Language>& from, const Language& to) {
  if (isScriptConversion(from, to)) return Route::script;
  if (dictionaryDirection(from, to)) {
    return from ? Route::dictionaryThenSentences : Route::dictionary;
  }
  // Into Simplified Chinese from a language that is neither Chinese nor English.
  if (from && dictionaryDirection(english(), to) && from->primary() != "zh") {
    return Route::throughEnglish;
  }
  return Route::apertium;
}

std::unique_ptr<TranslationService> makeRoutingService(
    std::unique_ptr<TranslationService> apertium, std::unique_ptr<TranslationService> dictionary,
    std::unique_ptr<TranslationService> sentences, std::unique_ptr<TranslationService> script) {
  return std::make_unique<RoutingService>(Services{std::move(apertium), std::move(dictionary),
                                                   std::move(sentences), std::move(script)});
}

}  // namespace talvori
