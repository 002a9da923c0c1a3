#include "platform/han_script/script_conversion_service.h"

#include <string>
#include <utility>

#include "platform/han_script/han_script.h"

namespace talvori {

namespace {

bool writesTraditional(const Language& language) {
  if (!language.script().empty()) return language.script() == "Hant";
  return language.region() == "TW" || language.region() == "HK" || language.region() == "MO";
}

class ConversionSession : public TranslationSession {
 public:
  ConversionSession(MainQueue& mainQueue, bool converts)
      : mainQueue_(mainQueue), converts_(converts) {}

  void translate(std::string text, TranslateCallback done) override {
    std::optional<std::string> result;
    if (converts_) result = simplifyHan(text);
    mainQueue_.post([done = std::move(done), result = std::move(result)]() mutable {
      done(std::move(result));
    });
  }

 private:
  MainQueue& mainQueue_;
  const bool converts_;
};

class ConversionAvailability : public LanguageAvailability {
 public:
  explicit ConversionAvailability(MainQueue& mainQueue) : mainQueue_(mainQueue) {}

  void statusFrom(const Language& from, const Language& to, StatusCallback done) override {
    const AvailabilityStatus status = isScriptConversion(from, to)
                                          ? AvailabilityStatus::installed
                                          : AvailabilityStatus::unsupported;
    mainQueue_.post([done = std::move(done), status] { done(status); });
  }

  void statusFor(std::string_view, const Language&, TextStatusCallback done) override {
    mainQueue_.post([done = std::move(done)] { done(std::nullopt); });
  }

 private:
  MainQueue& mainQueue_;
};

class ConversionService : public TranslationService {
 public:
  explicit ConversionService(MainQueue& mainQueue) : mainQueue_(mainQueue) {}

  std::unique_ptr<LanguageAvailability> makeAvailability() override {
    return std::make_unique<ConversionAvailability>(mainQueue_);
  }

  std::unique_ptr<TranslationSession> makeSession(
      const TranslationConfiguration& configuration) override {
    return std::make_unique<ConversionSession>(
        mainQueue_, isScriptConversion(configuration.source(), configuration.target()));
  }

 private:
  MainQueue& mainQueue_;
};

}  // namespace

bool isScriptConversion(const std::optional<Language>& from, const Language& to) {
  return from && from->primary() == "zh" && to.primary() == "zh" && writesTraditional(*from) &&
         !writesTraditional(to);
}

std::unique_ptr<TranslationService> makeScriptConversionService(MainQueue& mainQueue) {
  return std::make_unique<ConversionService>(mainQueue);
}

}  // namespace talvori
