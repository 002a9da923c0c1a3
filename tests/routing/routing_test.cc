// The routes of language pairs, and the routing service's questions and sessions along them.
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "gtest/gtest.h"

#include "platform/routing_service.h"
#include "tests/fakes/fake_translation_service.h"
#include "tests/fakes/manual_main_queue.h"

namespace talvori {
namespace {

using Status = AvailabilityStatus;
using Strings = std::vector<std::string>;

TEST(RoutingTest, RoutesEachPair) {
  struct Case {
    std::optional<std::string> from;
    std::string to;
    Route route;
  };
  const Case cases[] = {
      {"zh-Hans", "en", Route::dictionaryThenSentences},
      {"zh-Hant", "en", Route::dictionaryThenSentences},
      {"zh", "en-US", Route::dictionaryThenSentences},
      {"zh-Hant-TW", "en", Route::dictionaryThenSentences},
      {"en", "zh-Hans", Route::dictionaryThenSentences},
      {"en-GB", "zh", Route::dictionaryThenSentences},
      {"en", "zh-CN", Route::dictionaryThenSentences},
      {std::nullopt, "en", Route::dictionary},
      {std::nullopt, "zh-Hans", Route::dictionary},
      {"es", "zh-Hans", Route::throughEnglish},
      {"ja", "zh-Hans", Route::throughEnglish},
      {"pt-BR", "zh-CN", Route::throughEnglish},
      {"es", "zh-Hant", Route::apertium},
      {"en", "zh-Hant", Route::apertium},
      // Taiwan, Hong Kong and Macao write Traditional characters, unless a script says otherwise.
      {"en", "zh-TW", Route::apertium},
      {"en", "zh-HK", Route::apertium},
      {"en", "zh_mo", Route::apertium},
      {"en", "zh-Hans-HK", Route::dictionaryThenSentences},
      {"en", "zh-SG", Route::dictionaryThenSentences},
      {"zh-HK", "en", Route::dictionaryThenSentences},
      {"es", "zh-TW", Route::apertium},
      {"zh-Latn", "en", Route::apertium},
      {"zh-Latn", "zh-Hans", Route::apertium},
      // Traditional Chinese into Simplified is a change of script only.
      {"zh-Hant", "zh-Hans", Route::script},
      {"zh-TW", "zh-Hans", Route::script},
      {"zh-Hant-HK", "zh", Route::script},
      {"zh-Hans", "zh-Hans", Route::apertium},
      {"zh-Hans", "zh-Hant", Route::apertium},
      {"ja", "en", Route::apertium},
      {"es", "en", Route::apertium},
      {"en", "es", Route::apertium},
      {"zh-Hans", "es", Route::apertium},
      {std::nullopt, "es", Route::apertium},
  };
  for (const Case& c : cases) {
    const std::optional<Language> from =
        c.from ? std::optional<Language>(Language(*c.from)) : std::nullopt;
    EXPECT_EQ(routeFor(from, Language(c.to)), c.route) << c.from.value_or("none") << " " << c.to;
  }
}

class RoutingServiceTest : public ::testing::Test {
 protected:
  RoutingServiceTest() {
    auto apertium = std::make_unique<testing::FakeTranslationService>(queue_);
    auto dictionary = std::make_unique<testing::FakeTranslationService>(queue_);
    auto sentences = std::make_unique<testing::FakeTranslationService>(queue_);
    auto script = std::make_unique<testing::FakeTranslationService>(queue_);
    apertium_ = apertium.get();
    dictionary_ = dictionary.get();
    sentences_ = sentences.get();
    script_ = script.get();
    service_ = makeRoutingService(std::move(apertium), std::move(dictionary), std::move(sentences),
                                  std::move(script));
  }

  // Asks about `text` from `from` into `to` with an availability object that is gone before any
  // answer.
  std::shared_ptr<std::optional<Status>> ask(const char* from, const char* to,
                                             std::string_view text = "text") {
    auto status = std::make_shared<std::optional<Status>>();
    service_->makeAvailability()->statusFrom(Language(from), Language(to), text,
                                             [status](Status s) { *status = s; });
    queue_.runAll();
    return status;
  }

  // Starts translating `text`; the answer lands in the holder.
  std::shared_ptr<std::optional<std::optional<std::string>>> translate(
      const std::optional<std::string>& from, const char* to, const std::string& text) {
    auto session =
        std::shared_ptr<TranslationSession>(service_->makeSession(TranslationConfiguration(
            from ? std::optional<Language>(Language(*from)) : std::nullopt, Language(to))));
    auto result = std::make_shared<std::optional<std::optional<std::string>>>();
    session->translate(text, [session, result](std::optional<std::string> answer) {
      *result = std::move(answer);
    });
    queue_.runAll();
    return result;
  }

  testing::ManualMainQueue queue_;
  testing::FakeTranslationService* apertium_;
  testing::FakeTranslationService* dictionary_;
  testing::FakeTranslationService* sentences_;
  testing::FakeTranslationService* script_;
  std::unique_ptr<TranslationService> service_;
};

// Apertium's, the dictionary's and the script conversion's own questions go to them; texts of
// unknown language to the dictionary or Apertium.
TEST_F(RoutingServiceTest, AsksApertiumAndTheDictionaryForTheirPairs) {
  auto traditional = ask("zh-Hant", "zh-Hans");
  EXPECT_EQ(script_->queries, (Strings{"from zh-Hant to zh-Hans"}));
  script_->answerStatus(Status::installed);
  queue_.runAll();
  EXPECT_EQ(*traditional, Status::installed);
  auto spanish = ask("es", "en");
  std::optional<std::optional<Status>> unknownChinese, unknownSpanish;
  {
    auto availability = service_->makeAvailability();
    availability->statusFor("电脑", Language("en"), [&](auto s) { unknownChinese = s; });
    availability->statusFor("perro", Language("es"), [&](auto s) { unknownSpanish = s; });
  }
  EXPECT_EQ(apertium_->queries, (Strings{"from es to en", "for perro to es"}));
  EXPECT_EQ(dictionary_->queries, (Strings{"for 电脑 to en"}));
  EXPECT_TRUE(sentences_->queries.empty());
  apertium_->answerStatus(Status::installed);
  apertium_->answerStatus(std::nullopt);
  dictionary_->answerStatus(Status::installed);
  queue_.runAll();
  EXPECT_EQ(*spanish, Status::installed);
  EXPECT_EQ(unknownChinese, std::optional<Status>(Status::installed));
  ASSERT_TRUE(unknownSpanish.has_value());
  EXPECT_EQ(*unknownSpanish, std::nullopt);
}

// Chinese and English: installed when the dictionary answers the text, whatever the model;
// else the sentence engine's status while it can serve the pair; else the dictionary's for the
// pair, as without the sentence engine. All three are asked at once, about the request's text
// where it lies.
TEST_F(RoutingServiceTest, AsksTheDictionaryAboutTheTextThenTheSentenceEngine) {
  struct Case {
    std::optional<Status> dictionaryText;
    Status sentences, dictionaryPair, combined;
  };
  const Case cases[] = {
      {Status::installed, Status::supported, Status::installed, Status::installed},
      {Status::installed, Status::unsupported, Status::installed, Status::installed},
      {std::nullopt, Status::supported, Status::installed, Status::supported},
      {std::nullopt, Status::installed, Status::installed, Status::installed},
      {std::nullopt, Status::unsupported, Status::installed, Status::installed},
      {std::nullopt, Status::unsupported, Status::unsupported, Status::unsupported},
  };
  const std::string text = "電腦";
  for (const Case& c : cases) {
    dictionary_->queries.clear();
    sentences_->queries.clear();
    auto status = ask("zh-Hant", "en", text);
    EXPECT_EQ(dictionary_->queries, (Strings{"for 電腦 to en", "from zh-Hant to en"}));
    EXPECT_EQ(sentences_->queries, (Strings{"from zh-Hant to en"}));
    EXPECT_EQ(dictionary_->queriedText, text.data());
    EXPECT_EQ(sentences_->queriedText, text.data());
    dictionary_->answerStatus(c.dictionaryText);
    sentences_->answerStatus(c.sentences);
    queue_.runAll();
    EXPECT_FALSE(status->has_value()) << "answered before every engine had";
    dictionary_->answerStatus(c.dictionaryPair);
    queue_.runAll();
    EXPECT_EQ(*status, c.combined);
  }
  EXPECT_TRUE(apertium_->queries.empty());
}

// Through English: Apertium's status into English and the sentence engine's from English, asked
// at once; unsupported when either is, installed only when both are.
TEST_F(RoutingServiceTest, CombinesBothStepsThroughEnglish) {
  struct Case {
    Status apertium, sentences, combined;
  };
  const Case cases[] = {
      {Status::installed, Status::installed, Status::installed},
      {Status::installed, Status::supported, Status::supported},
      {Status::supported, Status::installed, Status::supported},
      {Status::supported, Status::supported, Status::supported},
      {Status::installed, Status::unsupported, Status::unsupported},
      {Status::unsupported, Status::installed, Status::unsupported},
  };
  for (const Case& c : cases) {
    sentences_->queries.clear();
    auto status = ask("es", "zh-Hans");
    EXPECT_EQ(apertium_->queries.back(), "from es to en");
    EXPECT_EQ(sentences_->queries, (Strings{"from en to zh-Hans"}));
    apertium_->answerStatus(c.apertium);
    sentences_->answerStatus(c.sentences);
    queue_.runAll();
    EXPECT_EQ(*status, c.combined);
  }
  EXPECT_TRUE(dictionary_->queries.empty());
}

// A text the dictionary answers never reaches the sentence engine; one it declines does, as it
// was. Through English, Apertium's English goes the same way; a failure of Apertium ends there.
TEST_F(RoutingServiceTest, TranslatesAlongTheRoute) {
  auto traditional = translate("zh-Hant", "zh-Hans", "電腦");
  EXPECT_EQ(script_->translations, (Strings{"電腦"}));
  script_->answerTranslation("电脑");
  queue_.runAll();
  EXPECT_EQ(*traditional, std::optional<std::string>("电脑"));

  auto word = translate("zh-Hans", "en", "电脑");
  dictionary_->answerTranslation("computer");
  queue_.runAll();
  EXPECT_EQ(*word, std::optional<std::string>("computer"));

  auto sentence = translate("zh-Hans", "en", "我今天很高兴。\n");
  dictionary_->answerTranslation(std::nullopt);
  queue_.runAll();
  EXPECT_EQ(sentences_->translations, (Strings{"我今天很高兴。\n"}));
  sentences_->answerTranslation("I am happy today.\n");
  queue_.runAll();
  EXPECT_EQ(*sentence, std::optional<std::string>("I am happy today.\n"));

  auto spanish = translate("es", "zh-Hans", "El perro come.");
  EXPECT_EQ(apertium_->translations, (Strings{"El perro come."}));
  apertium_->answerTranslation("The dog eats.");
  queue_.runAll();
  EXPECT_EQ(dictionary_->translations.back(), "The dog eats.");
  dictionary_->answerTranslation(std::nullopt);
  queue_.runAll();
  EXPECT_EQ(sentences_->translations.back(), "The dog eats.");
  sentences_->answerTranslation("狗吃。");
  queue_.runAll();
  EXPECT_EQ(*spanish, std::optional<std::string>("狗吃。"));

  auto failed = translate("es", "zh-Hans", "Hola.");
  apertium_->answerTranslation(std::nullopt);
  queue_.runAll();
  ASSERT_TRUE(failed->has_value());
  EXPECT_EQ(**failed, std::nullopt);
  EXPECT_EQ(dictionary_->translations.size(), 3u);

  auto unknown = translate(std::nullopt, "en", "电脑");
  dictionary_->answerTranslation(std::nullopt);
  queue_.runAll();
  ASSERT_TRUE(unknown->has_value());
  EXPECT_EQ(**unknown, std::nullopt);
  EXPECT_EQ(sentences_->translations.size(), 2u);
  EXPECT_EQ(apertium_->pendingTranslations() + dictionary_->pendingTranslations() +
                sentences_->pendingTranslations(),
            0u);
}

}  // namespace
}  // namespace talvori
