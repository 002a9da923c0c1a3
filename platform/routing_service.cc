#include "platform/routing_service.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

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

using Status = AvailabilityStatus;
using Answers = std::vector<std::optional<Status>>;

// Answers to questions put to several engines at once, handed to `combine` once all have come.
// The engines answer later, on the main thread, each exactly once.
class Gathering {
 public:
  Gathering(std::size_t questions, std::function<Status(const Answers&)> combine,
            StatusCallback done)
      : answers_(questions),
        waiting_(questions),
        combine_(std::move(combine)),
        done_(std::move(done)) {}

  // The answer callbacks, one per question.
  static std::function<void(std::optional<Status>)> answer(std::shared_ptr<Gathering> gathering,
                                                           std::size_t question) {
    return [gathering = std::move(gathering), question](std::optional<Status> status) {
      gathering->answers_[question] = status;
      if (--gathering->waiting_ == 0) gathering->done_(gathering->combine_(gathering->answers_));
    };
  }

 private:
  Answers answers_;
  std::size_t waiting_;
  const std::function<Status(const Answers&)> combine_;
  const StatusCallback done_;
};

class RoutingAvailability : public LanguageAvailability {
 public:
  explicit RoutingAvailability(Services& services) : services_(services) {}

  void statusFrom(const Language& from, const Language& to, std::string_view text,
                  StatusCallback done) override {
    switch (routeFor(from, to)) {
      case Route::apertium:
        return apertium().statusFrom(from, to, text, std::move(done));
      case Route::dictionary:
        return dictionary().statusFrom(from, to, text, std::move(done));
      case Route::script:
        return script().statusFrom(from, to, text, std::move(done));
      case Route::dictionaryThenSentences: {
        // Installed when the dictionary answers the text; else the sentence engine's status
        // while it can serve the pair, else the dictionary's for the pair.
        auto gathering = std::make_shared<Gathering>(
            3,
            [](const Answers& answers) {
              if (answers[0] == Status::installed) return Status::installed;
              if (answers[1] != Status::unsupported) return *answers[1];
              return *answers[2];
            },
            std::move(done));
        dictionary().statusFor(text, to, Gathering::answer(gathering, 0));
        sentences().statusFrom(from, to, text, Gathering::answer(gathering, 1));
        dictionary().statusFrom(from, to, text, Gathering::answer(gathering, 2));
        return;
      }
      case Route::throughEnglish: {
        // Apertium into English, and the sentence engine from English, whose text is not known
        // yet: unsupported when either is, installed when both are.
        auto gathering = std::make_shared<Gathering>(
            2,
            [](const Answers& answers) {
              if (answers[0] == Status::unsupported || answers[1] == Status::unsupported) {
                return Status::unsupported;
              }
              if (answers[0] == Status::installed && answers[1] == Status::installed) {
                return Status::installed;
              }
              return Status::supported;
            },
            std::move(done));
        apertium().statusFrom(from, english(), text, Gathering::answer(gathering, 0));
        sentences().statusFrom(english(), to, {}, Gathering::answer(gathering, 1));
        return;
      }
    }
  }

  void statusFor(std::string_view text, const Language& to, TextStatusCallback done) override {
    LanguageAvailability& asked =
        routeFor(std::nullopt, to) == Route::dictionary ? dictionary() : apertium();
    asked.statusFor(text, to, std::move(done));
  }

 private:
  // Each engine's own availability object, made on first need and kept, so that its answers
  // follow its own rules for delivery.
  LanguageAvailability& apertium() { return made(apertium_, *services_.apertium); }
  LanguageAvailability& dictionary() { return made(dictionary_, *services_.dictionary); }
  LanguageAvailability& sentences() { return made(sentences_, *services_.sentences); }
  LanguageAvailability& script() { return made(script_, *services_.script); }

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
