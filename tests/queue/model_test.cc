// The queue: admission, dispatch and resolution, the availability check, sessions and completion,
// driven through fakes and checked on the exact reply transcript.
#include "queue/model.h"

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "queue/translation_hook.h"
#include "tests/fakes/fake_panel.h"
#include "tests/fakes/fake_recogniser.h"
#include "tests/fakes/fake_translation_service.h"
#include "tests/fakes/manual_main_queue.h"
#include "tests/fakes/memory_reply_sink.h"

namespace talvori {
namespace {

using testing::FakePanel;
using testing::FakeRecogniser;
using testing::FakeTranslationService;
using testing::ManualMainQueue;
using testing::MemoryReplySink;

std::string ok(const std::string& id, const std::string& text) {
  return "{\"id\":\"" + id + "\",\"text\":\"" + text + "\"}\n";
}
std::string err(const std::string& id, std::string_view message) {
  return "{\"id\":\"" + id + "\",\"error\":\"" + std::string(message) + "\"}\n";
}

class ModelTest : public ::testing::Test {
 protected:
  ModelTest() {
    model.window = &panel;
    recogniser.set("hello", "en");
    recogniser.set("  hello\n", "en");
    recogniser.set("hola", "es");
    recogniser.set("bonjour", "fr");
    recogniser.set("你好", "zh-Hans");
    recogniser.set("你們好", "zh-Hant");
    recogniser.set("HELLO", "EN");
  }

  void enqueue(std::string id, std::string text, std::string_view target) {
    model.enqueue(Request{std::move(id), std::move(text), targetNamed(target)});
  }

  ManualMainQueue queue;
  FakeRecogniser recogniser;
  FakeTranslationService service{queue};
  FakePanel panel;
  MemoryReplySink out;
  Model model{{recogniser.factory(), service, queue, out}};
  TranslationHook hook{model, service};
};

TEST_F(ModelTest, StartsEmpty) {
  EXPECT_FALSE(model.configuration().has_value());
  EXPECT_TRUE(model.requests().empty());
  EXPECT_FALSE(model.current().has_value());
}

TEST_F(ModelTest, RefusesInvalidRequestsWithTheirIdAndChangesNothing) {
  std::string accented, family;
  for (int i = 0; i < 10001; ++i) accented += "e\xCC\x81";
  for (int i = 0; i < 10001; ++i) family += "👩‍👩‍👧‍👦";
  const std::string id100(100, 'i');
  enqueue("1", "", "en");
  enqueue("2", " \t\r\n\xC2\x85\xE3\x80\x80\xE2\x80\xA8", "en");
  enqueue("3", std::string(10001, 'a'), "en");
  enqueue("4", accented, "en");
  enqueue("5", family, "en");
  for (const char* target : {"EN", "zh-hans", "zh", "zh-Hant", "", " en"})
    enqueue("6", "x", target);
  enqueue(id100, "x", "en");
  EXPECT_EQ(
      out.take(), err("1", kInvalidRequestError) + err("2", kInvalidRequestError) +
                      err("3", kInvalidRequestError) + err("4", kInvalidRequestError) +
                      err("5", kInvalidRequestError) +
                      [] {
                        std::string six;
                        for (int i = 0; i < 6; ++i) six += err("6", kInvalidRequestError);
                        return six;
                      }() +
                      err(id100, kInvalidRequestError));
  EXPECT_EQ(recogniser.made(), 0);
  EXPECT_TRUE(panel.events.empty());
  EXPECT_EQ(queue.pending(), 0u);
}

TEST_F(ModelTest, AdmitsTheLongestValidRequests) {
  std::string accented, family;
  for (int i = 0; i < 10000; ++i) accented += "e\xCC\x81";
  for (int i = 0; i < 10000; ++i) family += "👩‍👩‍👧‍👦";
  recogniser.set(std::string(10000, 'a'), "en");
  recogniser.set(accented, "en");
  recogniser.set(family, "en");
  recogniser.set("x", "en");
  enqueue("a", std::string(10000, 'a'), "en");
  enqueue("b", accented, "en");
  enqueue("c", family, "en");
  enqueue(std::string(99, 'i'), "x", "en");
  enqueue("", "x", "en");
  queue.runAll();
  EXPECT_EQ(out.take(), ok("a", std::string(10000, 'a')) + ok("b", accented) + ok("c", family) +
                            ok(std::string(99, 'i'), "x") + ok("", "x"));
}

TEST_F(ModelTest, ShortcutAnswersWithTheUntrimmedTextAtOnce) {
  enqueue("1", "  hello\n", "en");
  EXPECT_EQ(out.take(), ok("1", "  hello\\n")) << "answered inside enqueue";
  EXPECT_FALSE(model.current().has_value());
  enqueue("2", "你好", "zh-Hans");
  EXPECT_EQ(out.take(), ok("2", "你好"));
  queue.runAll();
  EXPECT_TRUE(service.queries.empty());
  EXPECT_FALSE(model.configuration().has_value());
  EXPECT_EQ(panel.events, (std::vector<std::string>{"alpha 0", "alpha 0"}));
}

TEST_F(ModelTest, ResolvesTargetsAndAsksTheRightQuestion) {
  struct Case {
    std::string text, target, query;
  };
  const std::vector<Case> cases = {
      {"你好", "auto", "from zh-Hans to en"},
      {"你們好", "auto", "from zh-Hant to en"},
      {"hello", "auto", "from en to zh-Hans"},
      {"bonjour", "auto", "from fr to zh-Hans"},
      {"bonjour", "en", "from fr to en"},
      {"hello", "zh-Hans", "from en to zh-Hans"},
      {"???", "auto", "for ??? to zh-Hans"},
      {"???", "en", "for ??? to en"},
      {"你好", "en", "from zh-Hans to en"},
      // Traditional text asked for in Simplified is the same language in another script: it is
      // converted, not answered as it stands.
      {"你們好", "zh-Hans", "from zh-Hant to zh-Hans"},
      // Primary subtags compare case-sensitively, as written: "EN" is not the shortcut's "en",
      // although both make the same language value, which reaches the service canonical.
      {"HELLO", "en", "from en to en"},
      {"HELLO", "auto", "from en to zh-Hans"},
  };
  for (const auto& c : cases) {
    service.queries.clear();
    enqueue("q", c.text, c.target);
    EXPECT_TRUE(service.queries.empty()) << "the check starts after next has returned";
    queue.runAll();
    ASSERT_EQ(service.queries, std::vector<std::string>{c.query}) << c.text << " " << c.target;
    service.answerStatus(AvailabilityStatus::unsupported);
    queue.runAll();
    EXPECT_EQ(out.take(), err("q", kUnsupportedError));
  }
}

TEST_F(ModelTest, UnsupportedOrFailedQueriesAnswerWithAnErrorAndKeepTheConfiguration) {
  enqueue("1", "hola", "en");
  queue.runAll();
  service.answerStatus(AvailabilityStatus::installed);
  queue.runAll();
  service.answerTranslation("hello");
  queue.runAll();
  const auto identity = model.configuration()->identity();
  panel.events.clear();

  enqueue("2", "bonjour", "en");
  queue.runAll();
  service.answerStatus(AvailabilityStatus::unsupported);
  enqueue("3", "???", "en");
  queue.runAll();
  service.answerStatus(std::nullopt);  // the query about the text fails
  queue.runAll();
  EXPECT_EQ(out.take(),
            ok("1", "hello") + err("2", kUnsupportedError) + err("3", kUnsupportedError));
  EXPECT_EQ(panel.events, (std::vector<std::string>{"alpha 0", "alpha 0"})) << "only finish";
  EXPECT_EQ(model.configuration()->identity(), identity);
  EXPECT_EQ(model.configuration()->source(), Language("es"));
  EXPECT_EQ(service.sessionsMade, 1);
}

TEST_F(ModelTest, UsablePairsShowOrHideThePanelAndRunOneSessionEach) {
  enqueue("1", "hola", "en");
  queue.runAll();
  service.answerStatus(AvailabilityStatus::supported);
  queue.runAll();
  EXPECT_EQ(panel.events, (std::vector<std::string>{"alpha 1", "front"}));
  EXPECT_EQ(service.translations, std::vector<std::string>{"hola"});
  service.answerTranslation(std::nullopt);
  queue.runAll();
  EXPECT_EQ(out.take(), err("1", kTranslationFailedError));
  EXPECT_EQ(panel.alpha, 0.0);
  EXPECT_EQ(service.sessionsAlive, 0) << "the session ends once perform has finished";

  // The same pair again: the stored configuration is invalidated in place and runs again.
  panel.events.clear();
  const auto first = model.configuration()->identity();
  enqueue("2", "hola", "en");
  queue.runAll();
  service.answerStatus(AvailabilityStatus::installed);
  queue.runAll();
  EXPECT_EQ(panel.events, (std::vector<std::string>{"alpha 0", "front"}));
  EXPECT_NE(model.configuration()->identity(), first);
  service.answerTranslation("");
  queue.runAll();
  EXPECT_EQ(out.take(), ok("2", "")) << "an empty translation is still a text";
  EXPECT_EQ(service.sessionsMade, 2);
}

TEST_F(ModelTest, ANewPairReplacesTheConfiguration) {
  auto translate = [&](std::string text, std::string target) {
    enqueue("x", std::move(text), std::move(target));
    queue.runAll();
    service.answerStatus(AvailabilityStatus::installed);
    queue.runAll();
    service.answerTranslation("t");
    queue.runAll();
  };
  translate("hola", "en");
  EXPECT_EQ(model.configuration()->source(), Language("es"));
  translate("???", "en");
  EXPECT_FALSE(model.configuration()->source().has_value()) << "none differs from a language";
  translate("???", "en");
  translate("???", "zh-Hans");
  EXPECT_EQ(model.configuration()->target(), Language("zh-Hans"));
  EXPECT_EQ(service.sessionsMade, 4);
  EXPECT_EQ(out.take(), ok("x", "t") + ok("x", "t") + ok("x", "t") + ok("x", "t"));
}

TEST_F(ModelTest, ThirtyTwoWaitPlusOneCurrentAndInvalidBeatsFull) {
  enqueue("c", "hola", "en");
  for (int i = 0; i < 32; ++i) enqueue(std::to_string(i), "hello", "en");
  EXPECT_EQ(model.requests().size(), 32u);
  enqueue("full", "hello", "en");
  enqueue("bad", "", "en");
  EXPECT_EQ(out.take(), err("full", kQueueFullError) + err("bad", kInvalidRequestError));
  EXPECT_EQ(model.requests().size(), 32u);
  EXPECT_EQ(model.current()->id, "c");
}

// Mixed outcomes leave in arrival order, one request at a time.
TEST_F(ModelTest, AnswersInArrivalOrderAcrossOutcomes) {
  enqueue("1", "hola", "en");
  enqueue("2", "hello", "en");
  enqueue("3", "bonjour", "en");
  enqueue("4", "hello", "en");
  enqueue("5", "hola", "en");
  queue.runAll();
  service.answerStatus(AvailabilityStatus::installed);
  queue.runAll();
  service.answerTranslation("hello");
  queue.runAll();  // 1 answered, 2 shortcut, 3 asks
  service.answerStatus(AvailabilityStatus::unsupported);
  queue.runAll();  // 3 answered, 4 shortcut, 5 asks
  service.answerStatus(AvailabilityStatus::installed);
  queue.runAll();
  service.answerTranslation(std::nullopt);
  queue.runAll();
  EXPECT_EQ(out.take(), ok("1", "hello") + ok("2", "hello") + err("3", kUnsupportedError) +
                            ok("4", "hello") + err("5", kTranslationFailedError));
  EXPECT_TRUE(model.requests().empty());
  EXPECT_FALSE(model.current().has_value());
  EXPECT_EQ(model.status(), kInitialStatus);
}

// A request arriving after finish but before its scheduled next starts at once; the scheduled
// next then finds it current and does nothing.
TEST_F(ModelTest, LateEnqueueBetweenFinishAndTheScheduledNext) {
  enqueue("1", "hola", "en");
  queue.runAll();
  service.answerStatus(AvailabilityStatus::installed);
  queue.runAll();
  service.answerTranslation("hi");
  ASSERT_TRUE(queue.runOne());  // the answer: finish runs and schedules next
  EXPECT_EQ(queue.pending(), 1u);
  enqueue("2", "bonjour", "en");
  EXPECT_EQ(model.current()->id, "2");
  queue.runAll();
  EXPECT_EQ(service.queries.size(), 2u);
  EXPECT_EQ(model.current()->id, "2");
  EXPECT_EQ(out.take(), ok("1", "hi"));
}

// The road of a translated request, one main-queue job per turn: the check in the turn after
// next, the session started in the turn of the availability answer, the reply in the turn of the
// translation's answer, and next in a turn of its own.
TEST_F(ModelTest, ATranslatedRequestIsAnsweredInItsFourthTurn) {
  enqueue("1", "hola", "en");
  EXPECT_TRUE(service.queries.empty());
  ASSERT_TRUE(queue.runOne());
  EXPECT_EQ(service.queries, std::vector<std::string>{"from es to en"});
  EXPECT_EQ(queue.pending(), 0u);
  service.answerStatus(AvailabilityStatus::installed);
  ASSERT_TRUE(queue.runOne());
  EXPECT_EQ(service.translations, std::vector<std::string>{"hola"});
  EXPECT_EQ(queue.pending(), 0u);
  service.answerTranslation("hi");
  ASSERT_TRUE(queue.runOne());
  EXPECT_EQ(out.take(), ok("1", "hi"));
  EXPECT_EQ(queue.pending(), 1u) << "next, posted";
}

// The text travels without copies: the query about it reads it where it lies, and the session
// receives the very buffer the request brought.
TEST_F(ModelTest, PassesTheTextWithoutCopies) {
  std::string text(kMaxTextCharacters, 'q');
  const char* const bytes = text.data();
  enqueue("1", std::move(text), "en");
  queue.runAll();
  EXPECT_EQ(service.queriedText, bytes);
  service.answerStatus(AvailabilityStatus::installed);
  queue.runAll();
  ASSERT_EQ(service.translations.size(), 1u);
  EXPECT_EQ(service.translations[0].data(), bytes);
  service.answerTranslation("t");
  queue.runAll();
  EXPECT_EQ(out.take(), ok("1", "t"));
}

// The hook runs once per configuration; should perform be called again for the same request, it
// starts nothing, and the request is still answered once.
TEST_F(ModelTest, ASecondPerformForTheSameRequestStartsNothing) {
  enqueue("1", "hola", "en");
  queue.runAll();
  service.answerStatus(AvailabilityStatus::installed);
  queue.runAll();
  FakeTranslationService other(queue);
  auto session = other.makeSession(TranslationConfiguration(std::nullopt, Language("en")));
  bool finished = false;
  model.perform(*session, [&] { finished = true; });
  EXPECT_TRUE(finished);
  EXPECT_TRUE(other.translations.empty());
  service.answerTranslation("hi");
  queue.runAll();
  EXPECT_EQ(out.take(), ok("1", "hi"));
}

TEST_F(ModelTest, PerformWithNothingCurrentWritesNothing) {
  FakeTranslationService other(queue);
  auto session = other.makeSession(TranslationConfiguration(std::nullopt, Language("en")));
  bool finished = false;
  model.perform(*session, [&] { finished = true; });
  EXPECT_TRUE(finished);
  EXPECT_TRUE(other.translations.empty());
  EXPECT_EQ(out.take(), "");
  EXPECT_TRUE(panel.events.empty());
}

TEST_F(ModelTest, WorksWithoutAPanel) {
  model.window = nullptr;
  enqueue("1", "hola", "en");
  queue.runAll();
  service.answerStatus(AvailabilityStatus::supported);
  queue.runAll();
  ASSERT_TRUE(model.configuration().has_value());
  service.answerTranslation("hi");
  queue.runAll();
  EXPECT_EQ(out.take(), ok("1", "hi"));
}

// Completion schedules the next dispatch instead of calling it, so a long run of requests that
// answer themselves does not nest calls.
TEST_F(ModelTest, ManyShortcutsInARowDoNotGrowTheStack) {
  std::uintptr_t lowest = UINTPTR_MAX, highest = 0;
  struct Probe : LanguageRecogniser {
    std::uintptr_t *low, *high;
    void processString(std::string_view) override {
      int local = 0;
      const auto at = reinterpret_cast<std::uintptr_t>(&local);
      *low = std::min(*low, at);
      *high = std::max(*high, at);
    }
    std::optional<std::string> dominantLanguage() override { return "en"; }
  };
  Model shortcuts({[&]() -> std::unique_ptr<LanguageRecogniser> {
                     auto p = std::make_unique<Probe>();
                     p->low = &lowest;
                     p->high = &highest;
                     return p;
                   },
                   service, queue, out});
  int sent = 0;
  while (sent < 10000) {
    for (int i = 0; i < 32 && sent < 10000; ++i, ++sent) {
      shortcuts.enqueue(Request{std::to_string(sent), "a", Target::english});
    }
    queue.runAll();
  }
  const std::string transcript = out.take();
  EXPECT_EQ(std::count(transcript.begin(), transcript.end(), '\n'), 10000);
  EXPECT_TRUE(transcript.ends_with(ok("9999", "a")));
  EXPECT_LT(highest - lowest, 4096u);
}

}  // namespace
}  // namespace talvori
