// The agent binary end to end, headless, against the real recogniser and translation engine.
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/agent_process.h"

namespace talvori {
namespace {

using namespace std::chrono_literals;
using testing::AgentProcess;
using testing::requestLine;
using testing::startHeadlessAgent;

// What the engine's own command line gives for `text`, Spanish to English, unknown words
// unmarked.
std::string engineTranslation(const std::string& text) {
  const std::string command = "printf '%s' '" + text + "' | apertium -u spa-eng";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  std::string out;
  char buffer[4096];
  std::size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe.get())) > 0) out.append(buffer, n);
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

TEST(Agent, TranslatesSpanishAndRefusesUnsupportedPairs) {
  auto agent = startHeadlessAgent();
  const std::string spanish = "El perro come la manzana en la casa.";
  agent->write(requestLine("es", spanish, "en"));
  agent->write(requestLine("ja", "これは日本語で書かれた文です。", "en"));
  agent->write("not a request\n\n{\"id\":5,\"text\":\"x\",\"target\":\"en\"}\n");
  agent->write(R"({"id":"crlf","text":"Good morning to all of you, friends.","target":"en"})"
               "\r\n");
  auto lines = agent->readLines(3, 30s);
  ASSERT_EQ(lines.size(), 3u) << agent->output();
  EXPECT_EQ(lines[0], "{\"id\":\"es\",\"text\":\"" + engineTranslation(spanish) + "\"}");
  EXPECT_EQ(lines[1], "{\"id\":\"ja\",\"error\":\"" + testing::kUnsupportedMessage + "\"}");
  EXPECT_EQ(lines[2], "{\"id\":\"crlf\",\"text\":\"Good morning to all of you, friends.\"}");

  // A last line without a line feed is still a request; answered at once, it is answered before
  // the agent ends.
  agent->write(R"({"id":"last","text":"The last line has no line feed.","target":"en"})");
  agent->closeInput();
  EXPECT_EQ(agent->wait(10s), 0);
  lines = agent->readLines(4, 1s);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[3], "{\"id\":\"last\",\"text\":\"The last line has no line feed.\"}");
  EXPECT_EQ(agent->errors(), "");
}

// A long translation keeps the queue busy while 40 more requests arrive: 32 wait, the rest are
// turned away at once, and the waiting ones are answered in order afterwards.
TEST(Agent, RefusesRequestsBeyondTheQueue) {
  auto agent = startHeadlessAgent();
  std::string longSpanish;
  while (longSpanish.size() < 9000) longSpanish += "El gato duerme en la silla de la cocina. ";
  std::string burst = requestLine("long", longSpanish, "en");
  for (int i = 0; i < 40; ++i) {
    burst += requestLine(std::to_string(i), "Plain English words for the shortcut path.", "en");
  }
  burst += requestLine("invalid", "Plain English words.", "EN");
  agent->write(burst);
  const auto lines = agent->readLines(42, 60s);
  ASSERT_EQ(lines.size(), 42u) << agent->output();
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(lines[i], "{\"id\":\"" + std::to_string(32 + i) + "\",\"error\":\"" +
                            testing::kQueueFullMessage + "\"}");
  }
  EXPECT_EQ(lines[8], "{\"id\":\"invalid\",\"error\":\"" + testing::kInvalidMessage + "\"}");
  EXPECT_TRUE(lines[9].starts_with("{\"id\":\"long\",\"text\":\"The cat")) << lines[9];
  for (int i = 0; i < 32; ++i) {
    EXPECT_EQ(lines[10 + i], "{\"id\":\"" + std::to_string(i) +
                                 "\",\"text\":\"Plain English words for the shortcut path.\"}");
  }
  agent->closeInput();
  EXPECT_EQ(agent->wait(10s), 0);
  EXPECT_EQ(agent->errors(), "");
}

// A pair the distribution offers but this machine lacks shows the panel and starts an install;
// with no system bus to reach PackageKit on, the install fails at once, the request with it, and
// the queue goes on.
TEST(Agent, APairThatCannotBeInstalledFailsAndTheQueueGoesOn) {
  auto agent = startHeadlessAgent();
  agent->write(
      requestLine("ca", "El govern ha aprovat avui el pressupost per a l'any vinent.", "en"));
  agent->write(requestLine("en", "Plain English words for the shortcut path.", "en"));
  const auto lines = agent->readLines(2, 20s);
  ASSERT_EQ(lines.size(), 2u) << agent->output();
  EXPECT_EQ(lines[0], "{\"id\":\"ca\",\"error\":\"" + testing::kFailedMessage + "\"}");
  EXPECT_EQ(lines[1], "{\"id\":\"en\",\"text\":\"Plain English words for the shortcut path.\"}");
  agent->closeInput();
  EXPECT_EQ(agent->wait(10s), 0);
  EXPECT_EQ(agent->errors(), "");
}

// Chinese and English go to the dictionary both ways, with explicit targets and with "auto";
// a sentence is no dictionary entry and fails.
TEST(Agent, TranslatesChineseAndEnglishWithTheDictionary) {
  auto agent = startHeadlessAgent();
  agent->write(requestLine("simplified", "电脑", "en"));
  agent->write(requestLine("traditional", "電腦", "en"));
  agent->write(requestLine("english", "computer", "zh-Hans"));
  agent->write(requestLine("idiom", "画蛇添足", "auto"));
  agent->write(requestLine("sentence", "我今天在家里用电脑给朋友写了一封信。", "auto"));
  agent->write(requestLine("auto-zh", "“电脑”", "auto"));
  agent->write(requestLine("auto-en", "computer", "auto"));
  const auto lines = agent->readLines(7, 20s);
  ASSERT_EQ(lines.size(), 7u) << agent->output();
  EXPECT_EQ(lines[0], R"({"id":"simplified","text":"computer"})");
  EXPECT_EQ(lines[1], R"({"id":"traditional","text":"computer"})");
  EXPECT_EQ(lines[2], R"({"id":"english","text":"计算机；电脑"})");
  EXPECT_EQ(
      lines[3],
      R"({"id":"idiom","text":"to ruin the effect by adding something superfluous; to overdo it"})");
  EXPECT_EQ(lines[4], "{\"id\":\"sentence\",\"error\":\"" + testing::kFailedMessage + "\"}");
  EXPECT_EQ(lines[5], R"({"id":"auto-zh","text":"computer"})");
  EXPECT_EQ(lines[6], R"({"id":"auto-en","text":"计算机；电脑"})");
  agent->closeInput();
  EXPECT_EQ(agent->wait(10s), 0);
  EXPECT_EQ(agent->errors(), "");
}

// Text already in the target language comes back as it is, but Traditional Chinese asked for in
// Simplified comes back in Simplified characters: the reply claims to be Simplified Chinese.
TEST(Agent, AnswersTraditionalChineseInSimplifiedWhenSimplifiedIsAsked) {
  auto agent = startHeadlessAgent();
  agent->write(requestLine("computer", "電腦", "zh-Hans"));
  agent->write(requestLine("love", "我愛你", "zh-Hans"));
  agent->write(requestLine("simplified", "我爱你", "zh-Hans"));
  const auto lines = agent->readLines(3, 20s);
  ASSERT_EQ(lines.size(), 3u) << agent->output();
  EXPECT_EQ(lines[0], R"({"id":"computer","text":"电脑"})");
  EXPECT_EQ(lines[1], R"({"id":"love","text":"我爱你"})");
  EXPECT_EQ(lines[2], R"({"id":"simplified","text":"我爱你"})");
  agent->closeInput();
  EXPECT_EQ(agent->wait(10s), 0);
  EXPECT_EQ(agent->errors(), "");
}

// A lone English name is recognised as English and reaches the dictionary.
TEST(Agent, TranslatesAnEnglishNameIntoChinese) {
  auto agent = startHeadlessAgent();
  agent->write(requestLine("name", "Germany", "zh-Hans"));
  agent->write(requestLine("auto", "Germany", "auto"));
  const auto lines = agent->readLines(2, 20s);
  ASSERT_EQ(lines.size(), 2u) << agent->output();
  EXPECT_EQ(lines[0], R"({"id":"name","text":"德国"})");
  EXPECT_EQ(lines[1], R"({"id":"auto","text":"德国"})");
  agent->closeInput();
  EXPECT_EQ(agent->wait(10s), 0);
  EXPECT_EQ(agent->errors(), "");
}

// With no display to reach the agent falls back to the offscreen platform and works the same.
TEST(Agent, WorksWithoutADisplay) {
  AgentProcess agent(
      std::string(TALVORI_BINARY_DIR) + "/talvori",
      {.environment = {"QT_QPA_PLATFORM=", "DISPLAY=:97", "WAYLAND_DISPLAY=wayland-97"}});
  agent.write(requestLine("1", "Nothing but plain English words here.", "en"));
  const auto lines = agent.readLines(1, 20s);
  ASSERT_EQ(lines.size(), 1u) << agent.errors();
  EXPECT_EQ(lines[0], "{\"id\":\"1\",\"text\":\"Nothing but plain English words here.\"}");
  agent.closeInput();
  EXPECT_EQ(agent.wait(10s), 0);
  EXPECT_EQ(agent.errors(), "");
}

TEST(Agent, EndsAtOnceWhenInputEnds) {
  auto agent = startHeadlessAgent();
  agent->closeInput();
  EXPECT_EQ(agent->wait(10s), 0);
  EXPECT_EQ(agent->output(), "");
  EXPECT_EQ(agent->errors(), "");
}

// Requests still waiting or translating when input ends get no reply, and nothing waits for the
// engine.
TEST(Agent, EndsPromptlyWithRequestsWaiting) {
  auto agent = startHeadlessAgent();
  std::string longSpanish;
  while (longSpanish.size() < 9000) longSpanish += "La casa tiene una puerta roja y dos ventanas. ";
  agent->write(requestLine("long", longSpanish, "en"));
  for (int i = 0; i < 5; ++i)
    agent->write(requestLine(std::to_string(i), "Plain English here.", "en"));
  agent->closeInput();
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(agent->wait(10s), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
  EXPECT_EQ(agent->output(), "");
  EXPECT_EQ(agent->errors(), "");
}

}  // namespace
}  // namespace talvori
