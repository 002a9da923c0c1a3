#include "platform/routing_service.h"

#include <array>
#include <cstddef>
#include <utility>

#include "platform/dictionary/dictionary_service.h"
#include "platform/han_script/script_conversion_service.h"

namespace talvori {

namespace {

// Asks the engine's own availability object, made on first need and kept, so that its answers
// follow its own rules for delivery.
class RoutingAvailability : public LanguageAvailability {
 public:
  explicit RoutingAvailability(std::array<TranslationService*, 3> services) : services_(services) {}

  void statusFrom(const Language& from, const Language& to, StatusCallback done) override {
    availability(engineFor(from, to)).statusFrom(from, to, std::move(done));
  }

  void statusFor(std::string_view text, const Language& to, TextStatusCallback done) override {
    availability(engineFor(std::nullopt, to)).statusFor(text, to, std::move(done));
  }

 private:
  LanguageAvailability& availability(Engine engine) {
    const auto index = static_cast<std::size_t>(engine);
    if (!made_[index]) made_[index] = services_[index]->makeAvailability();
    return *made_[index];
  }

  const std::array<TranslationService*, 3> services_;  // by Engine
  std::array<std::unique_ptr<LanguageAvailability>, 3> made_;
};

class RoutingService : public TranslationService {
 public:
  // By Engine: Apertium, the dictionary, the script conversion.
  explicit RoutingService(std::array<std::unique_ptr<TranslationService>, 3> services)
      : services_(std::move(services)) {}

  std::unique_ptr<LanguageAvailability> makeAvailability() override {
    return std::make_unique<RoutingAvailability>(std::array<TranslationService*, 3>{
        services_[0].get(), services_[1].get(), services_[2].get()});
  }

  std::unique_ptr<TranslationSession> makeSession(
      const TranslationConfiguration& configuration) override {
    const Engine engine = engineFor(configuration.source(), configuration.target());
    return services_[static_cast<std::size_t>(engine)]->makeSession(configuration);
  }

 private:
  std::array<std::unique_ptr<TranslationService>, 3> services_;
};

}  // namespace

Engine engineFor(const std::optional<Language>& from, const Language& to) {
  if (isScriptConversion(from, to)) return Engine::script;
  return dictionaryDirection(from, to) ? Engine::dictionary : Engine::apertium;
}

std::unique_ptr<TranslationService> makeRoutingService(
    std::unique_ptr<TranslationService> apertium, std::unique_ptr<TranslationService> dictionary,
    std::unique_ptr<TranslationService> script) {
  return std::make_unique<RoutingService>(std::array<std::unique_ptr<TranslationService>, 3>{
      std::move(apertium), std::move(dictionary), std::move(script)});
}

}  // namespace talvori
