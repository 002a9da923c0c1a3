// The agent binary translating sentences between Chinese and English with the sentence engine:
// the synthetic zh->en test model downloaded on first use from a loopback HTTP server
// (tests/sentences/model_server.py) through a manifest in a scratch $XDG_DATA_HOME, download
// faults, and engine faults; each fault fails one request and the next is translated.
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include <nlohmann/json.hpp>

#include "platform/sentences/engine_process.h"
#include "tests/sentences/sentence_test_models.h"
#include "tests/sentences/served_models.h"
#include "tests/support/agent_process.h"

namespace talvori {
namespace {

using namespace std::chrono_literals;
using testing::AgentProcess;
using testing::requestLine;
namespace fs = std::filesystem;

const std::string kSentence = "新版本的程序每隔几分钟自动保存你的文档。";
const std::string kOtherSentence = "我今天很高兴见到你。";

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

// The translation of a reply line, or its error after "error: ".
std::string answerOf(const std::string& line) {
  const auto reply = nlohmann::json::parse(line, nullptr, false);
  if (!reply.is_object()) return "unreadable: " + line;
  if (reply.contains("text")) return reply["text"].get<std::string>();
  return "error: " + reply.value("error", std::string());
}

// The engine's own translation of a test sentence on the test model `model`, made by running it
// here once per build and kept beside the test models for the other tests.
std::string engineOutput(const std::string& text, const std::string& model = "zhen") {
  const fs::path kept =
      testing::testModel(model + "-translations") / std::to_string(std::hash<std::string>()(text));
  if (fs::exists(kept)) return readFile(kept);
  auto engine = EngineProcess::start(testing::testEngine(), testing::testModel(model),
                                     std::chrono::steady_clock::now() + 120s);
  if (!engine) return "(no engine)";
  const std::optional<std::string> output =
      engine->translate(text, std::chrono::steady_clock::now() + 60s);
  if (!output) return "(no translation)";
  fs::create_directories(kept.parent_path());
  const fs::path partial = fs::path(kept).concat("." + std::to_string(::getpid()));
  std::ofstream(partial, std::ios::binary) << *output;
  fs::rename(partial, kept);
  return *output;
}

class SentenceAgentTest : public ::testing::Test {
 protected:
  SentenceAgentTest() {
    char folder[] = "/tmp/talvori-sentences-XXXXXX";
    scratch_ = ::mkdtemp(folder);
    fs::create_directories(scratch_ / "data");
    fs::create_directories(scratch_ / "shared");
    fs::create_directories(scratch_ / "served");
    served_ = std::make_unique<testing::ServedModels>(testing::testModel("zhen"), "zh-Hans>en",
                                                      scratch_ / "data", scratch_ / "served");
  }
  ~SentenceAgentTest() override { fs::remove_all(scratch_); }

  // The agent with the scratch data folders: no model from the machine's own.
  std::unique_ptr<AgentProcess> startAgent(std::vector<std::string> environment = {}) {
    environment.push_back("XDG_DATA_HOME=" + (scratch_ / "data").string());
    environment.push_back("XDG_DATA_DIRS=" + (scratch_ / "shared").string());
    return testing::startHeadlessAgent({.environment = std::move(environment)});
  }

  fs::path installed(const std::string& folder = "zhen") const {
    return scratch_ / "data" / "talvori" / "models" / folder;
  }

  // Every name in the installed folder, temporaries included.
  std::vector<std::string> installedNames() const {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(installed(), error)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  // Sends one request and gives its answer.
  static std::string ask(AgentProcess& agent, const std::string& id, const std::string& text,
                         const std::string& target = "auto") {
    const std::size_t before = agent.readLines(0, 0ms).size();
    agent.write(requestLine(id, text, target));
    const std::vector<std::string> lines = agent.readLines(before + 1, 120s);
    if (lines.size() <= before) return "no answer";
    return answerOf(lines.back());
  }

  // The agent's engine process, once one runs.
  static std::optional<pid_t> engineOf(const AgentProcess& agent) {
    for (pid_t child : testing::childrenOf(agent.pid())) {
      if (testing::commandLineOf(child).find("sentence-engine.cjs") != std::string::npos) {
        return child;
      }
    }
    return std::nullopt;
  }

  fs::path scratch_;
  std::unique_ptr<testing::ServedModels> served_;
};

// The first Chinese sentence downloads the model and is answered with the engine's translation;
// later ones use it at once; words and names come from the dictionary, before the model is there
// too.
TEST_F(SentenceAgentTest, DownloadsTheModelOnFirstUseAndUsesItAfter) {
  ASSERT_TRUE(served_->serving());
  served_->writeManifest();
  auto agent = startAgent();
  // A word from the dictionary waits for no download.
  EXPECT_EQ(ask(*agent, "0", "電腦"), "computer");
  EXPECT_EQ(served_->requests().size(), 0u);
  EXPECT_EQ(ask(*agent, "1", kSentence), engineOutput(kSentence));
  EXPECT_EQ(served_->requests().size(), 3u);
  std::vector<std::string> expected;
  for (const auto& file : served_->files()) {
    expected.push_back(file.name);
    EXPECT_EQ(readFile(installed() / file.name), readFile(testing::testModel("zhen") / file.name))
        << file.name;
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(installedNames(), expected);

  EXPECT_EQ(ask(*agent, "2", kOtherSentence, "en"), engineOutput(kOtherSentence));
  EXPECT_EQ(ask(*agent, "3", "电脑"), "computer");
  EXPECT_EQ(served_->requests().size(), 3u);
  agent->closeInput();
  EXPECT_EQ(agent->wait(20s), 0);
  EXPECT_EQ(agent->errors(), "");
}

// A missing file, a file cut short, one with the wrong digest, a connection reset mid-file: the
// request fails, the files finished stay, nothing else does, and the next request tries again.
// A slow server is waited for.
TEST_F(SentenceAgentTest, DownloadFaultsFailTheRequestAndTheNextTriesAgain) {
  ASSERT_TRUE(served_->serving());
  auto agent = startAgent();
  int id = 0;
  const std::vector<std::pair<std::map<std::string, std::string>, std::string>> faults = {
      {{{"model", "missing"}}, ""},
      {{{"model", "truncate"}}, ""},
      {{}, "model"},
      {{{"model", "reset"}}, ""},
  };
  for (const auto& [fault, wrongDigest] : faults) {
    SCOPED_TRACE(fault.empty() ? "wrong digest" : fault.begin()->second);
    served_->writeManifest(fault, wrongDigest);
    EXPECT_EQ(ask(*agent, std::to_string(++id), kSentence), "error: " + testing::kFailedMessage);
    EXPECT_EQ(installedNames(),
              (std::vector<std::string>{"lex.50.50.zhen.s2t.bin", "vocab.zhen.spm"}));
  }
  fs::remove_all(installed());
  served_->writeManifest({{"vocab", "slow"}, {"lex", "slow"}});
  EXPECT_EQ(ask(*agent, std::to_string(++id), kSentence), engineOutput(kSentence));
  agent->closeInput();
  EXPECT_EQ(agent->wait(20s), 0);
  EXPECT_EQ(agent->errors(), "");
}

// The end of input in the middle of a download ends the agent at once.
TEST_F(SentenceAgentTest, EndOfInputDuringADownloadEndsTheAgentAtOnce) {
  ASSERT_TRUE(served_->serving());
  served_->writeManifest({{"model", "gate"}});
  auto agent = startAgent();
  agent->write(requestLine("1", kSentence, "auto"));
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (served_->requests().size() < 3 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(20ms);
  }
  ASSERT_EQ(served_->requests().size(), 3u);
  const auto closed = std::chrono::steady_clock::now();
  agent->closeInput();
  EXPECT_EQ(agent->wait(20s), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - closed, 5s);
  EXPECT_EQ(agent->output(), "");
  EXPECT_EQ(agent->errors(), "");
}

// Two agents installing the same model at once both answer, and the installed files are whole.
TEST_F(SentenceAgentTest, TwoAgentsInstallAtOnce) {
  ASSERT_TRUE(served_->serving());
  served_->writeManifest({{"model", "gate"}});
  auto first = startAgent();
  auto second = startAgent();
  first->write(requestLine("1", kSentence, "auto"));
  second->write(requestLine("2", kSentence, "auto"));
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  const auto modelRequests = [&] {
    std::size_t count = 0;
    for (const std::string& path : served_->requests())
      count += path.find("/model.") != std::string::npos;
    return count;
  };
  while (modelRequests() < 2 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_EQ(modelRequests(), 2u);
  served_->release();
  for (AgentProcess* agent : {first.get(), second.get()}) {
    const auto lines = agent->readLines(1, 120s);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(answerOf(lines[0]), engineOutput(kSentence));
  }
  for (const auto& file : served_->files()) {
    EXPECT_EQ(readFile(installed() / file.name), readFile(testing::testModel("zhen") / file.name))
        << file.name;
  }
  for (const std::string& name : installedNames()) EXPECT_NE(name[0], '.') << name;
}

// An engine killed during a request, one that aborts on a damaged model, and a text too large for
// it: each fails one request, and the next is translated. (An engine stopped past its deadline is
// tested on the service, with a short deadline: tests/sentences.)
TEST_F(SentenceAgentTest, EngineFaultsFailOneRequestEach) {
  served_->writeManifest();
  fs::create_directories(installed().parent_path());
  fs::copy(testing::testModel("zhen"), installed());
  auto agent = startAgent();
  const std::string failed = "error: " + testing::kFailedMessage;
  EXPECT_EQ(ask(*agent, "1", kSentence), engineOutput(kSentence));

  // Killed while it translates a text that keeps it busy for a few seconds.
  std::string longer;
  while (longer.size() < 9000) longer += "这是一个很长的句子。";
  std::optional<pid_t> engine = engineOf(*agent);
  ASSERT_TRUE(engine.has_value());
  const long idle = testing::cpuTicks(*engine);
  agent->write(requestLine("2", longer, "en"));
  // Killed once it is busy with the text: a fifth of a second of work shows it has it.
  const auto busy = std::chrono::steady_clock::now() + 60s;
  while (testing::cpuTicks(*engine) < idle + 20 && std::chrono::steady_clock::now() < busy) {
    std::this_thread::sleep_for(10ms);
  }
  ::kill(*engine, SIGKILL);
  EXPECT_EQ(answerOf(agent->readLines(2, 60s).back()), failed);
  EXPECT_EQ(ask(*agent, "3", kSentence), engineOutput(kSentence));

  // A damaged model, found by the engine started after this one has died while idle.
  fs::copy(testing::testModel("zhen-damaged") / "model.zhen.intgemm.alphas.bin",
           installed() / "model.zhen.intgemm.alphas.bin", fs::copy_options::overwrite_existing);
  engine = engineOf(*agent);
  ASSERT_TRUE(engine.has_value());
  ::kill(*engine, SIGKILL);
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (testing::alive(*engine) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_EQ(ask(*agent, "6", kSentence), failed);
  fs::copy(testing::testModel("zhen") / "model.zhen.intgemm.alphas.bin",
           installed() / "model.zhen.intgemm.alphas.bin", fs::copy_options::overwrite_existing);
  EXPECT_EQ(ask(*agent, "7", kSentence), engineOutput(kSentence));

  // 10,000 characters, each a Han character under 60 combining marks: more bytes than the
  // engine takes in one request.
  std::string huge;
  for (int i = 0; i < 10000; ++i) {
    huge += "中";
    for (int mark = 0; mark < 60; ++mark) huge += "\u0301";
  }
  EXPECT_EQ(ask(*agent, "8", huge), failed);
  EXPECT_EQ(ask(*agent, "9", kOtherSentence), engineOutput(kOtherSentence));
  EXPECT_EQ(served_->requests().size(), 0u);
  agent->closeInput();
  EXPECT_EQ(agent->wait(20s), 0);
  EXPECT_EQ(agent->errors(), "");
}

// Spanish into Simplified Chinese goes through English: Apertium, then the English to Chinese
// model (a word would go to the dictionary).
TEST_F(SentenceAgentTest, SpanishGoesToChineseThroughEnglish) {
  fs::create_directories(installed("enzh").parent_path());
  fs::copy(testing::testModel("enzh"), installed("enzh"));
  auto agent = startAgent();
  EXPECT_EQ(ask(*agent, "1", "El perro come la manzana."),
            engineOutput("The dog eats the apple.", "enzh"));
  EXPECT_EQ(ask(*agent, "2", "El perro come la manzana.", "en"), "The dog eats the apple.");
  agent->closeInput();
  EXPECT_EQ(agent->wait(20s), 0);
  EXPECT_EQ(agent->errors(), "");
}

// Without Node.js the agent answers Chinese and English as the dictionary alone does, downloads
// nothing, and takes no other language into Chinese.
TEST_F(SentenceAgentTest, WithoutNodeJsTheDictionaryServesAlone) {
  ASSERT_TRUE(served_->serving());
  served_->writeManifest();
  auto agent = startAgent({"PATH=/nonexistent"});
  EXPECT_EQ(ask(*agent, "1", "电脑"), "computer");
  EXPECT_EQ(ask(*agent, "2", kSentence), "error: " + testing::kFailedMessage);
  EXPECT_EQ(ask(*agent, "3", "El perro come la manzana."),
            "error: " + testing::kUnsupportedMessage);
  EXPECT_EQ(served_->requests().size(), 0u);
  agent->closeInput();
  EXPECT_EQ(agent->wait(20s), 0);
  EXPECT_EQ(agent->errors(), "");
}

}  // namespace
}  // namespace talvori
