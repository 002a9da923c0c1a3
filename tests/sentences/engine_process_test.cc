// One sentence engine process: the real loader on synthetic models, and a stand-in loader
// (engine_stand_in.cjs) for the faults that are easier to make on purpose.
#include "platform/sentences/engine_process.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"

#include "tests/sentences/sentence_test_models.h"
#include "tests/support/agent_process.h"

namespace talvori {
namespace {

using namespace std::chrono_literals;
using ::testing::Optional;
namespace fs = std::filesystem;

Deadline in(std::chrono::milliseconds time) { return std::chrono::steady_clock::now() + time; }

SentenceEngine standIn() {
  SentenceEngine engine = testing::testEngine();
  engine.loader = fs::path(TALVORI_SOURCE_DIR) / "tests/sentences/engine_stand_in.cjs";
  return engine;
}

std::unique_ptr<EngineProcess> startStandIn(const std::string& how = "well") {
  return EngineProcess::start(standIn(), fs::path("/stand-in") / how, in(20s));
}

TEST(SentenceEngineTest, IsFoundBesideTheAgentWithNodeOnThePath) {
  const fs::path agent = fs::path(TALVORI_BINARY_DIR) / "talvori";
  const std::string path = testing::testEngine().node.parent_path().string();
  const std::optional<SentenceEngine> found =
      findSentenceEngine(agent, ("relative:/nonexistent:" + path).c_str());
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->node, fs::path(path) / "node");
  EXPECT_EQ(found->loader, fs::path(TALVORI_BINARY_DIR) / "share/talvori/sentence-engine.cjs");
  // An installation: bin/talvori beside share/talvori.
  EXPECT_EQ(findSentenceEngine(fs::path(TALVORI_BINARY_DIR) / "bin/talvori", path.c_str())
                .value_or(SentenceEngine{})
                .files,
            fs::path(TALVORI_BINARY_DIR) / "share/talvori/bergamot");
  EXPECT_FALSE(findSentenceEngine(agent, "/nonexistent").has_value());
  EXPECT_FALSE(findSentenceEngine(agent, nullptr).has_value());
  EXPECT_FALSE(findSentenceEngine("/nonexistent/talvori", path.c_str()).has_value());
}

// Both directions load and translate; line breaks and blank lines come back where they were.
TEST(EngineProcessTest, TranslatesWithTheLoaderOnSyntheticModels) {
  for (const char* direction : {"zhen", "enzh"}) {
    SCOPED_TRACE(direction);
    auto engine =
        EngineProcess::start(testing::testEngine(), testing::testModel(direction), in(60s));
    ASSERT_NE(engine, nullptr);
    const std::string text = std::string(direction) == "zhen" ? "今天天气很好。\n\n我们去公园。"
                                                              : "It is a fine day.\n\nLet us go.";
    const std::optional<std::string> first = engine->translate(text, in(60s));
    ASSERT_TRUE(first.has_value());
    const std::size_t gap = first->find("\n\n");
    EXPECT_NE(gap, std::string::npos) << *first;
    EXPECT_GT(gap, 0u);
    EXPECT_LT(gap + 2, first->size());
    EXPECT_EQ(first->find('\n', gap + 2), std::string::npos);
    // The same text again, from the warm process: the same answer.
    EXPECT_EQ(engine->translate(text, in(60s)), first);
    EXPECT_TRUE(engine->usable());
  }
}

// A model the engine aborts on, a folder without a model, a process that ends or says nothing by
// the deadline: no engine, and nothing left running.
TEST(EngineProcessTest, FailsToStartWithoutAWorkingModel) {
  EXPECT_EQ(
      EngineProcess::start(testing::testEngine(), testing::testModel("zhen-damaged"), in(60s)),
      nullptr);
  EXPECT_EQ(EngineProcess::start(testing::testEngine(), "/nonexistent", in(60s)), nullptr);
  EXPECT_EQ(startStandIn("quits"), nullptr);
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(EngineProcess::start(standIn(), "/stand-in/mute", in(300ms)), nullptr);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 20s);
  SentenceEngine noNode = testing::testEngine();
  noNode.node = "/nonexistent/node";
  EXPECT_EQ(EngineProcess::start(noNode, testing::testModel("zhen"), in(60s)), nullptr);
  EXPECT_THAT(testing::childrenOf(::getpid()), ::testing::IsEmpty());
}

// Each fault fails its translation and ends the process at once, stopped or not; the process is
// not used again.
TEST(EngineProcessTest, FaultsFailTheTranslationAndEndTheProcess) {
  struct Case {
    std::string request;
    std::string how = "well";
  };
  const Case cases[] = {{"kill"},  {"stop"},    {"garbage"}, {"extra"},
                        {"error"}, {"invalid"}, {"deaf"},    {"echo late", "chatty"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.request);
    auto engine = startStandIn(c.how);
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(engine->translate(c.request, in(1s)), std::nullopt);
    EXPECT_FALSE(engine->usable());
    EXPECT_THAT(testing::childrenOf(::getpid()), ::testing::IsEmpty());
    EXPECT_EQ(engine->translate("echo hello", in(20s)), std::nullopt);
  }
}

// A process that has stopped reading: a request larger than its pipe holds is given up at the
// deadline instead of blocking in the write.
TEST(EngineProcessTest, AStoppedProcessFailsAtTheDeadline) {
  auto engine = startStandIn();
  ASSERT_NE(engine, nullptr);
  ASSERT_THAT(engine->translate("echo hello", in(20s)), Optional(std::string("hello")));
  const std::vector<pid_t> children = testing::childrenOf(::getpid());
  ASSERT_EQ(children.size(), 1u);
  ::kill(children.front(), SIGSTOP);
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(engine->translate("echo " + std::string(512 * 1024, 'a'), in(500ms)), std::nullopt);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
  EXPECT_THAT(testing::childrenOf(::getpid()), ::testing::IsEmpty());
}

// An answer that arrives in pieces is whole; a text over the loader's limit never reaches the
// process, which goes on.
TEST(EngineProcessTest, TakesAnswersInPiecesAndRefusesOverlongTexts) {
  auto engine = startStandIn();
  ASSERT_NE(engine, nullptr);
  EXPECT_THAT(engine->translate("slowly", in(20s)), Optional(std::string("in pieces")));
  EXPECT_EQ(engine->translate(std::string(kMaxEngineRequestBytes + 1, 'a'), in(20s)), std::nullopt);
  EXPECT_TRUE(engine->usable());
  const std::string large(kMaxEngineRequestBytes - 5, 'b');
  EXPECT_THAT(engine->translate("echo " + large, in(20s)), Optional(large));
}

}  // namespace
}  // namespace talvori
