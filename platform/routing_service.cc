#include "platform/routing_service.h"

#include <utility>

#include "platform/dictionary/dictionary_service.h"

namespace talvori {

namespace {

// Asks the engine's own availability object, made on first need and kept, so that its answers
// follow its own rules for delivery.
class RoutingAvailability : public LanguageAvailability {
 public:
  RoutingAvailability(TranslationService& apertium, TranslationService& dictionary)
      : apertium_(apertium), dictionary_(dictionary) {}

  void statusFrom(const Language& from, const Language& to, StatusCallback done) override {
    availability(engineFor(from, to)).statusFrom(from, to, std::move(done));
  }

  void statusFor(std::string_view text, const Language& to, TextStatusCallback done) override {
    availability(engineFor(std::nullopt, to)).statusFor(text, to, std::move(done));
  }

 private:
  LanguageAvailability& availability(Engine engine) {
    const bool dictionary = engine == Engine::dictionary;
    std::unique_ptr<LanguageAvailability>& made = dictionary ? fromDictionary_ : fromApertium_;
    if (!made) made = (dictionary ? dictionary_ : apertium_).makeAvailability();
    return *made;
  }

  TranslationService& apertium_;
  TranslationService& dictionary_;
  std::unique_ptr<LanguageAvailability> fromApertium_;
  std::unique_ptr<LanguageAvailability> fromDictionary_;
};

class RoutingService : public TranslationService {
 public:
  RoutingService(std::unique_ptr<TranslationService> apertium,
                 std::unique_ptr<TranslationService> dictionary)
      : apertium_(std::move(apertium)), dictionary_(std::move(dictionary)) {}

  std::unique_ptr<LanguageAvailability> makeAvailability() override {
    return std::make_unique<RoutingAvailability>(*apertium_, *dictionary_);
  }

  std::unique_ptr<TranslationSession> makeSession(
      const TranslationConfiguration& configuration) override {
    const Engine engine = engineFor(configuration.source(), configuration.target());
    return (engine == Engine::dictionary ? dictionary_ : apertium_)->makeSession(configuration);
  }

 private:
  std::unique_ptr<TranslationService> apertium_;
  std::unique_ptr<TranslationService> dictionary_;
};

}  // namespace

Engine engineFor(const std::optional<Language>& from, const Language& to) {
  return dictionaryDirection(from, to) ? Engine::dictionary : Engine::apertium;
}

std::unique_ptr<TranslationService> makeRoutingService(
    std::unique_ptr<TranslationService> apertium, std::unique_ptr<TranslationService> dictionary) {
  return std::make_unique<RoutingService>(std::move(apertium), std::move(dictionary));
}

}  // namespace talvori
