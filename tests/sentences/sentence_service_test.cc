// The sentence service: availability from the engine's presence and the model store, models
// installed on first use, engine processes started on need, replaced after faults and ended when
// idle. The stand-in loader answers with the text it was given; the real loader runs on the
// synthetic test models.
#include "platform/sentences/sentence_service.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"

#include "base/utf8.h"
#include "tests/fakes/fake_model_store.h"
#include "tests/fakes/manual_main_queue.h"
#include "tests/sentences/sentence_test_models.h"
#include "tests/support/agent_process.h"

namespace talvori {
namespace {

using namespace std::chrono_literals;
using ::testing::IsEmpty;
using ::testing::Optional;
using ::testing::SizeIs;
namespace fs = std::filesystem;

const SentenceDirection kZhEn = SentenceDirection::chineseToEnglish();
const SentenceDirection kEnZh = SentenceDirection::englishToChinese();

SentenceEngine standIn() {
  SentenceEngine engine = testing::testEngine();
  engine.loader = fs::path(TALVORI_SOURCE_DIR) / "tests/sentences/engine_stand_in.cjs";
  return engine;
}

class SentenceServiceTest : public ::testing::Test {
 protected:
  // A service on `engine` (none: no engine) over the fake store.
  void makeService(std::optional<SentenceEngine> engine, SentenceOptions options = {}) {
    options.engine = [this] { return engine_; };
    options.store = &store_;
    engine_ = std::move(engine);
    service_ = makeSentenceService(queue_, std::move(options));
  }

  AvailabilityStatus status(const char* from, const char* to) {
    std::optional<AvailabilityStatus> answer;
    service_->makeAvailability()->statusFrom(Language(from), Language(to), "你好。",
                                             [&](AvailabilityStatus s) { answer = s; });
    EXPECT_FALSE(answer.has_value()) << "answered inside the call";
    queue_.runAll();
    return answer.value_or(AvailabilityStatus::unsupported);
  }

  // Starts a translation; its answer lands in the returned holder once the queue has run.
  std::shared_ptr<std::optional<std::optional<std::string>>> start(const std::string& text,
                                                                   const char* from = "zh-Hans",
                                                                   const char* to = "en") {
    auto result = std::make_shared<std::optional<std::optional<std::string>>>();
    auto session = service_->makeSession(TranslationConfiguration(Language(from), Language(to)));
    session->translate(text, [result](std::optional<std::string> answer) { *result = answer; });
    EXPECT_FALSE(result->has_value()) << "answered inside the call";
    return result;
  }

  std::optional<std::string> translate(const std::string& text, const char* from = "zh-Hans",
                                       const char* to = "en") {
    auto result = start(text, from, to);
    EXPECT_TRUE(queue_.runUntil([&] { return result->has_value(); }, 60s));
    return result->value_or(std::nullopt);
  }

  testing::ManualMainQueue queue_;
  testing::FakeModelStore store_;
  std::optional<SentenceEngine> engine_;
  std::unique_ptr<TranslationService> service_;
};

TEST_F(SentenceServiceTest, ServesChineseToEnglishAndEnglishToSimplifiedChinese) {
  struct Case {
    std::optional<std::string> from;
    std::string to;
    std::optional<SentenceDirection> direction;
  };
  const Case cases[] = {
      {"zh-Hans", "en", kZhEn},
      {"zh-Hant-TW", "en-GB", kZhEn},
      {"zh", "en", kZhEn},
      {"en", "zh-Hans", kEnZh},
      {"en-US", "zh-CN", kEnZh},
      {"en", "zh-Hant", std::nullopt},
      {"zh-Latn", "en", std::nullopt},
      {"es", "en", std::nullopt},
      {std::nullopt, "en", std::nullopt},
  };
  for (const Case& c : cases) {
    const std::optional<Language> from =
        c.from ? std::optional<Language>(Language(*c.from)) : std::nullopt;
    EXPECT_EQ(sentenceDirection(from, Language(c.to)), c.direction) << c.from.value_or("none");
  }
}

// Installed with the model, supported while it can be downloaded, unsupported without the engine
// whatever the store holds; never an answer for a text of unknown language.
TEST_F(SentenceServiceTest, AnswersAvailabilityFromTheEngineAndTheStore) {
  makeService(standIn());
  EXPECT_EQ(status("zh-Hans", "en"), AvailabilityStatus::unsupported);
  store_.setDownloadable(kZhEn, true);
  EXPECT_EQ(status("zh-Hant", "en"), AvailabilityStatus::supported);
  store_.setInstalled(kZhEn, testing::testModel("zhen"));
  EXPECT_EQ(status("zh-Hans", "en"), AvailabilityStatus::installed);
  EXPECT_EQ(status("en", "zh-Hans"), AvailabilityStatus::unsupported);
  EXPECT_EQ(status("ja", "en"), AvailabilityStatus::unsupported);
  std::optional<std::optional<AvailabilityStatus>> forText;
  service_->makeAvailability()->statusFor("电脑", Language("en"), [&](auto s) { forText = s; });
  queue_.runAll();
  EXPECT_THAT(forText, Optional(std::optional<AvailabilityStatus>()));

  makeService(std::nullopt);
  EXPECT_EQ(status("zh-Hans", "en"), AvailabilityStatus::unsupported);
  EXPECT_EQ(translate("你好。"), std::nullopt);
  EXPECT_THAT(store_.requested, IsEmpty());
}

// A missing model is installed before the translation, which waits for it; a failed install
// fails the translation and the next one tries again. Traditional Chinese reaches the engine in
// Simplified characters; English as it is.
TEST_F(SentenceServiceTest, InstallsTheModelFirstAndSimplifiesTraditionalChinese) {
  makeService(standIn());
  store_.setDownloadable(kZhEn, true);
  store_.setInstallFolder(kZhEn, "/stand-in/zhen");
  auto first = start("電腦很好。");
  queue_.runAll();
  ASSERT_EQ(store_.pending(), 1u);
  EXPECT_FALSE(first->has_value());
  store_.answer(false);
  ASSERT_TRUE(queue_.runUntil([&] { return first->has_value(); }, 5s));
  EXPECT_EQ(**first, std::nullopt);
  EXPECT_THAT(testing::childrenOf(::getpid()), IsEmpty());

  auto second = start("電腦很好。\n\n這是。");
  queue_.runAll();
  ASSERT_EQ(store_.pending(), 1u);
  store_.answer(true);
  ASSERT_TRUE(queue_.runUntil([&] { return second->has_value(); }, 20s));
  EXPECT_THAT(**second, Optional(std::string("电脑很好。\n\n这是。")));
  EXPECT_EQ(store_.requested, (std::vector<SentenceDirection>{kZhEn, kZhEn}));

  store_.setInstalled(kEnZh, "/stand-in/enzh");
  EXPECT_THAT(translate("Hello, 電腦.", "en", "zh-Hans"), Optional(std::string("Hello, 電腦.")));
  EXPECT_THAT(store_.requested, SizeIs(2));
}

// No process before the first translation; one per direction in use; ended after the idle time,
// and started again by the next translation.
TEST_F(SentenceServiceTest, StartsEnginesOnNeedAndEndsThemWhenIdle) {
  SentenceOptions options;
  options.idleEnd = 500ms;
  makeService(standIn(), options);
  store_.setInstalled(kZhEn, "/stand-in/zhen");
  store_.setInstalled(kEnZh, "/stand-in/enzh");
  EXPECT_EQ(status("zh-Hans", "en"), AvailabilityStatus::installed);
  EXPECT_THAT(testing::childrenOf(::getpid()), IsEmpty());
  EXPECT_THAT(translate("echo 一"), Optional(std::string("一")));
  EXPECT_THAT(translate("echo two", "en", "zh-Hans"), Optional(std::string("two")));
  EXPECT_THAT(testing::childrenOf(::getpid()), SizeIs(2));
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (!testing::childrenOf(::getpid()).empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_THAT(testing::childrenOf(::getpid()), IsEmpty());
  EXPECT_THAT(translate("echo 三"), Optional(std::string("三")));
  EXPECT_THAT(testing::childrenOf(::getpid()), SizeIs(1));
  service_.reset();
  EXPECT_THAT(testing::childrenOf(::getpid()), IsEmpty());
}

// A translation that stalls fails at a deadline that grows with the text. A deadline can only
// end a translation late, never early, so the lower bound holds on any machine.
TEST_F(SentenceServiceTest, StalledTranslationsFailAtADeadlineThatGrowsWithTheText) {
  SentenceOptions options;
  options.timeout = 200ms;
  options.timeoutPerThousandCharacters = 2s;
  makeService(standIn(), options);
  store_.setInstalled(kZhEn, "/stand-in/zhen");
  ASSERT_THAT(translate("echo 一"), Optional(std::string("一")));
  for (const std::size_t characters : {0, 500}) {
    std::string text = "deaf";
    while (countCodePoints(text) < characters) text += "字";
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(translate(text), std::nullopt);
    EXPECT_GE(std::chrono::steady_clock::now() - started, 200ms + 2s * characters / 1000);
    EXPECT_THAT(translate("echo 二"), Optional(std::string("二")));
  }
}

// On the real loader: an engine killed or stopped during a translation, or given a text that
// takes longer than its deadline, fails that one translation, and the next is translated by a
// fresh process.
TEST_F(SentenceServiceTest, EngineFaultsFailOneTranslationEach) {
  SentenceOptions options;
  options.timeout = 3s;
  options.timeoutPerThousandCharacters = 0ms;
  makeService(testing::testEngine(), options);
  store_.setInstalled(kZhEn, testing::testModel("zhen"));
  const std::string sentence = "新版本的程序每隔几分钟自动保存你的文档。";
  const std::optional<std::string> expected = translate(sentence);
  ASSERT_TRUE(expected.has_value());
  ASSERT_FALSE(expected->empty());

  // About 10,000 characters: the engine needs several seconds for them, past the deadline.
  std::string huge;
  while (huge.size() < 30000) huge += "这是一个很长的句子。";
  for (const char* fault : {"kill", "stop", "none"}) {
    SCOPED_TRACE(fault);
    const std::vector<pid_t> engine = testing::childrenOf(::getpid());
    ASSERT_THAT(engine, SizeIs(1));
    auto result = start(huge);
    if (std::string(fault) != "none") {
      std::this_thread::sleep_for(300ms);
      ::kill(engine.front(), std::string(fault) == "kill" ? SIGKILL : SIGSTOP);
    }
    ASSERT_TRUE(queue_.runUntil([&] { return result->has_value(); }, 60s));
    EXPECT_EQ(**result, std::nullopt);
    EXPECT_EQ(translate(sentence), expected);
    EXPECT_THAT(testing::childrenOf(::getpid()),
                ::testing::Not(::testing::Contains(engine.front())));
  }
}

}  // namespace
}  // namespace talvori
