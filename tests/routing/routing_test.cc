// The routing of language pairs to engines, and the routing service's delegation.
#include <memory>
#include <optional>
#include <string>

#include "gtest/gtest.h"

#include "platform/routing_service.h"
#include "tests/fakes/fake_translation_service.h"
#include "tests/fakes/manual_main_queue.h"

namespace talvori {
namespace {

TEST(RoutingTest, SendsChineseAndEnglishToTheDictionary) {
  struct Case {
    std::optional<std::string> from;
    std::string to;
    Engine engine;
  };
  const Case cases[] = {
      {"zh-Hans", "en", Engine::dictionary},
      {"zh-Hant", "en", Engine::dictionary},
      {"zh", "en-US", Engine::dictionary},
      {"zh-Hant-TW", "en", Engine::dictionary},
      {"en", "zh-Hans", Engine::dictionary},
      {"en-GB", "zh", Engine::dictionary},
      {"en", "zh-CN", Engine::dictionary},
      {std::nullopt, "en", Engine::dictionary},
      {std::nullopt, "zh-Hans", Engine::dictionary},
      {"en", "zh-Hant", Engine::apertium},
      // Taiwan, Hong Kong and Macao write Traditional characters, unless a script says otherwise.
      {"en", "zh-TW", Engine::apertium},
      {"en", "zh-HK", Engine::apertium},
      {"en", "zh_mo", Engine::apertium},
      {"en", "zh-Hans-HK", Engine::dictionary},
      {"en", "zh-SG", Engine::dictionary},
      {"zh-HK", "en", Engine::dictionary},
      {"zh-Latn", "en", Engine::apertium},
      // Traditional Chinese into Simplified is a change of script only.
      {"zh-Hant", "zh-Hans", Engine::script},
      {"zh-TW", "zh-Hans", Engine::script},
      {"zh-Hant-HK", "zh", Engine::script},
      {"zh-Hans", "zh-Hans", Engine::apertium},
      {"zh-Hans", "zh-Hant", Engine::apertium},
      {std::nullopt, "zh-Hans", Engine::dictionary},
      {"ja", "en", Engine::apertium},
      {"es", "en", Engine::apertium},
      {"en", "es", Engine::apertium},
      {"es", "zh-Hans", Engine::apertium},
      {"zh-Hans", "es", Engine::apertium},
      {std::nullopt, "es", Engine::apertium},
  };
  for (const Case& c : cases) {
    const std::optional<Language> from =
        c.from ? std::optional<Language>(Language(*c.from)) : std::nullopt;
    EXPECT_EQ(engineFor(from, Language(c.to)), c.engine) << c.from.value_or("none") << " " << c.to;
  }
}

TEST(RoutingTest, AsksAndTranslatesWithTheEngineOfEachPair) {
  testing::ManualMainQueue queue;
  auto apertium = std::make_unique<testing::FakeTranslationService>(queue);
  auto dictionary = std::make_unique<testing::FakeTranslationService>(queue);
  testing::FakeTranslationService& fromApertium = *apertium;
  testing::FakeTranslationService& fromDictionary = *dictionary;
  auto script = std::make_unique<testing::FakeTranslationService>(queue);
  testing::FakeTranslationService& fromScript = *script;
  auto service = makeRoutingService(std::move(apertium), std::move(dictionary), std::move(script));

  std::vector<AvailabilityStatus> statuses;
  std::vector<std::optional<AvailabilityStatus>> textStatuses;
  {
    auto availability = service->makeAvailability();
    availability->statusFrom(Language("es"), Language("en"),
                             [&](AvailabilityStatus s) { statuses.push_back(s); });
    availability->statusFrom(Language("zh-Hans"), Language("en"),
                             [&](AvailabilityStatus s) { statuses.push_back(s); });
    availability->statusFor("电脑", Language("en"), [&](auto s) { textStatuses.push_back(s); });
    availability->statusFor("perro", Language("es"), [&](auto s) { textStatuses.push_back(s); });
  }
  EXPECT_EQ(fromApertium.queries, (std::vector<std::string>{"from es to en", "for perro to es"}));
  EXPECT_EQ(fromDictionary.queries,
            (std::vector<std::string>{"from zh-Hans to en", "for 电脑 to en"}));
  // Answers still arrive after the routing object is gone.
  fromApertium.answerStatus(AvailabilityStatus::installed);
  fromApertium.answerStatus(std::nullopt);
  fromDictionary.answerStatus(AvailabilityStatus::installed);
  fromDictionary.answerStatus(AvailabilityStatus::installed);
  queue.runAll();
  EXPECT_EQ(statuses.size(), 2u);
  EXPECT_EQ(textStatuses.size(), 2u);

  auto spanish = service->makeSession(TranslationConfiguration(Language("es"), Language("en")));
  auto chinese =
      service->makeSession(TranslationConfiguration(Language("en"), Language("zh-Hans")));
  auto unknown = service->makeSession(TranslationConfiguration(std::nullopt, Language("en")));
  auto traditional =
      service->makeSession(TranslationConfiguration(Language("zh-Hant"), Language("zh-Hans")));
  EXPECT_EQ(fromApertium.sessionsMade, 1);
  EXPECT_EQ(fromDictionary.sessionsMade, 2);
  EXPECT_EQ(fromScript.sessionsMade, 1);
}

}  // namespace
}  // namespace talvori
