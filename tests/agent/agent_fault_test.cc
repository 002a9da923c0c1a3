// The agent binary under faults: floods of input, a host that stops listening, an engine program
// that dies mid-translation, and a line far too long to translate. (A stalled engine program is
// tested on the service, with a short deadline: tests/apertium.)
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"

#include "tests/support/agent_process.h"

namespace talvori {
namespace {

using namespace std::chrono_literals;
using testing::AgentProcess;
using testing::alive;
using testing::childrenOf;
using testing::cpuTicks;
using testing::errorReply;
using testing::requestLine;
using testing::startHeadlessAgent;
using testing::statusKib;
using testing::textReply;

const std::string kEnglish = "Good morning to all of you, my friends.";
const std::string kSpanish = "El perro come la manzana en la casa.";

// Starts an agent and translates one Spanish sentence, so that its Spanish pipeline is running;
// gives the translation's reply line.
std::string warmUp(AgentProcess& agent) {
  agent.write(requestLine("warm", kSpanish, "en"));
  const auto lines = agent.readLines(1, 60s);
  EXPECT_EQ(lines.size(), 1u) << agent.errors();
  if (lines.empty()) return {};
  EXPECT_TRUE(lines[0].starts_with(R"({"id":"warm","text":")")) << lines[0];
  return lines[0].substr(std::string(R"({"id":"warm",)").size());
}

// 100,000 lines written in one go, mixing answerable requests, invalid ones and lines that are
// not requests at all. English text for English is answered during admission, so every decoded
// request is answered, in order, before the end of input ends the agent.
TEST(AgentFaults, ReadsEveryLineOfAFlood) {
  auto agent = startHeadlessAgent();
  std::string input;
  std::vector<std::string> expected;
  for (int i = 0; i < 100000; ++i) {
    const std::string id = std::to_string(i);
    switch (i % 6) {
      case 0:
        input += requestLine(id, kEnglish, "en");
        expected.push_back(textReply(id, kEnglish));
        break;
      case 1:
        input += requestLine(id, kEnglish, "fr");
        expected.push_back(errorReply(id, testing::kInvalidMessage));
        break;
      case 2:
        input += "not a request " + id + "\n";
        break;
      case 3:
        input +=
            R"({"target":"en","id":")" + id + R"(","extra":[1,{"a":null}],"text":" \t "})" + "\r\n";
        expected.push_back(errorReply(id, testing::kInvalidMessage));
        break;
      case 4:
        input += R"({"id":)" + id + R"(,"text":"x","target":"en"})" + "\n\n";
        break;
      case 5:
        input += R"({"id":")" + id + R"(","text":")" + kEnglish + R"(","target":"en"})" + "\r\n";
        expected.push_back(textReply(id, kEnglish));
        break;
    }
  }
  std::thread writer([&] {
    agent->write(input);
    agent->closeInput();
  });
  const auto lines = agent->readLines(expected.size(), 180s);
  writer.join();
  EXPECT_EQ(agent->wait(30s), 0);
  ASSERT_EQ(lines.size(), expected.size()) << agent->errors();
  for (std::size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(lines[i], expected[i]) << "reply " << i;
  }
  EXPECT_EQ(agent->output().size(), agent->output().rfind('\n') + 1);
  EXPECT_EQ(agent->errors(), "");
}

// A host that closes its end of standard output. Until the agent next replies it idles without
// spinning; the reply then ends it silently through the broken pipe's default action, and its
// engine programs end with it.
TEST(AgentFaults, EndsQuietlyWhenTheHostStopsListening) {
  auto agent = startHeadlessAgent();
  warmUp(*agent);
  const std::vector<pid_t> pipeline = childrenOf(agent->pid());
  ASSERT_FALSE(pipeline.empty());
  agent->closeOutput();
  const long before = cpuTicks(agent->pid());
  std::this_thread::sleep_for(1s);
  EXPECT_LE(cpuTicks(agent->pid()) - before, 10) << "busy while nobody listens";

  agent->write(requestLine("unheard", kEnglish, "en"));
  EXPECT_EQ(agent->wait(30s), std::nullopt);
  EXPECT_TRUE(WIFSIGNALED(agent->status()));
  EXPECT_EQ(WTERMSIG(agent->status()), SIGPIPE);
  EXPECT_EQ(agent->errors(), "");
  for (pid_t child : pipeline) {
    for (int i = 0; i < 200 && alive(child); ++i) std::this_thread::sleep_for(10ms);
    EXPECT_FALSE(alive(child)) << "engine program " << child << " outlived the agent";
  }
}

// With the broken pipe ignored (inherited from the host) the replies that cannot be written are
// dropped: the agent goes on translating without spinning and ends as usual at the end of input.
TEST(AgentFaults, DropsRepliesNobodyReadsWhenTheBrokenPipeIsIgnored) {
  AgentProcess agent(
      std::string(TALVORI_BINARY_DIR) + "/talvori",
      {.environment = {"QT_QPA_PLATFORM=offscreen"}, .brokenPipe = testing::BrokenPipe::ignored});
  warmUp(agent);
  agent.closeOutput();
  for (int i = 0; i < 20; ++i) {
    agent.write(requestLine(std::to_string(i), i % 2 ? kSpanish : kEnglish, "en"));
  }
  // Once the requests are done with, the CPU time of the agent and its engine stops growing.
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (!testing::settles(agent.pid(), 300ms) && std::chrono::steady_clock::now() < deadline) {
  }
  const long before = cpuTicks(agent.pid());
  std::this_thread::sleep_for(1s);
  EXPECT_LE(cpuTicks(agent.pid()) - before, 10) << "busy while nobody listens";
  agent.closeInput();
  EXPECT_EQ(agent.wait(10s), 0);
  EXPECT_EQ(agent.errors(), "");
}

// After a failed translation (two replies so far) the next request succeeds on a fresh pipeline,
// and the agent still ends cleanly.
void expectRecovery(AgentProcess& agent, const std::string& translation) {
  agent.write(requestLine("after", kSpanish, "en"));
  const auto lines = agent.readLines(3, 60s);
  ASSERT_EQ(lines.size(), 3u) << agent.errors();
  EXPECT_EQ(lines[2], R"({"id":"after",)" + translation);
  agent.closeInput();
  EXPECT_EQ(agent.wait(10s), 0);
  EXPECT_EQ(agent.errors(), "");
}

// An engine program killed mid-translation fails that request; the next one gets a fresh
// pipeline and succeeds.
TEST(AgentFaults, AKilledEngineProgramFailsOneRequest) {
  auto agent = startHeadlessAgent();
  const std::string translation = warmUp(*agent);
  const std::vector<pid_t> pipeline = childrenOf(agent->pid());
  ASSERT_GE(pipeline.size(), 2u);
  // Stopped, the pipeline cannot answer before one of its programs is killed.
  ASSERT_TRUE(testing::stopProcesses(pipeline));
  agent->write(requestLine("killed", kSpanish, "en"));
  // Wait until the request sits in the stopped pipeline.
  const auto reached = [&] {
    for (pid_t child : pipeline) {
      if (testing::pipeBytes(child, 0) > 0) return true;
    }
    return false;
  };
  for (int i = 0; i < 4000 && !reached(); ++i) std::this_thread::sleep_for(5ms);
  ASSERT_TRUE(reached()) << "the request never reached the pipeline";
  kill(pipeline[pipeline.size() / 2], SIGKILL);
  for (pid_t child : pipeline) kill(child, SIGCONT);
  auto lines = agent->readLines(2, 30s);
  ASSERT_EQ(lines.size(), 2u) << agent->errors();
  EXPECT_EQ(lines[1], errorReply("killed", testing::kFailedMessage));

  expectRecovery(*agent, translation);
}

// A system bus that takes connections and never answers holds the main thread in the connect of
// a first install; the end of input still ends the agent, from the reader's thread.
TEST(AgentFaults, EndsAtTheEndOfInputWhileTheMainThreadIsStuck) {
  const std::string path = "/tmp/talvori-hung-bus-" + std::to_string(getpid());
  ::unlink(path.c_str());
  const int bus = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(bus, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(bus, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(bus, 8), 0);
  auto agent = startHeadlessAgent({.environment = {"DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + path}});
  // Esperanto into English needs apertium-eo-en, which is installed on first use.
  agent->write(requestLine("eo", "Mi ŝatas legi librojn ĉiutage kun mia familio.", "en"));
  pollfd connecting{bus, POLLIN, 0};
  const bool connected = ::poll(&connecting, 1, 60000) == 1;
  int connection = connected ? ::accept4(bus, nullptr, nullptr, SOCK_CLOEXEC) : -1;
  if (!connected) {
    // An agent with this pair installed, or that never reaches the bus, has nothing to test.
    const auto lines = agent->readLines(1, 1s);
    ::close(bus);
    ::unlink(path.c_str());
    GTEST_SKIP() << "no install was tried: " << (lines.empty() ? "no reply" : lines[0]);
  }
  agent->closeInput();
  EXPECT_EQ(agent->wait(20s), 0) << "still running with its input closed";
  EXPECT_EQ(agent->errors(), "");
  ::close(connection);
  ::close(bus);
  ::unlink(path.c_str());
}

// A 50 MB line is read whole and refused as too long, and the memory it took is given back.
TEST(AgentFaults, AFiftyMegabyteLineIsRefusedAndItsMemoryReturned) {
  // The checked build's allocator holds freed blocks back to catch late uses; hand them back at
  // once so that resident memory means the same as in a plain build.
  auto agent = startHeadlessAgent(
      {.environment = {
           "ASAN_OPTIONS=" + std::string(getenv("ASAN_OPTIONS") ? getenv("ASAN_OPTIONS") : "") +
           ":quarantine_size_mb=0"}});
  agent->write(requestLine("warm", kEnglish, "en"));
  ASSERT_EQ(agent->readLines(1, 30s).size(), 1u) << agent->errors();
  const long before = statusKib(agent->pid(), "VmRSS:");
  ASSERT_GT(before, 0);

  std::string huge = R"({"id":"huge","target":"en","text":")";
  huge.append(50 << 20, 'a');
  huge += "\"}\n";
  std::thread writer([&] { agent->write(huge); });
  auto lines = agent->readLines(2, 120s);
  writer.join();
  ASSERT_EQ(lines.size(), 2u) << agent->errors();
  EXPECT_EQ(lines[1], errorReply("huge", testing::kInvalidMessage));

  // One more request makes sure the main thread has finished with the long one.
  agent->write(requestLine("next", kEnglish, "en"));
  lines = agent->readLines(3, 30s);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2], textReply("next", kEnglish));
  const long after = statusKib(agent->pid(), "VmRSS:");
  EXPECT_LT(after - before, 16 * 1024) << "before " << before << " KiB, after " << after << " KiB";
  agent->closeInput();
  EXPECT_EQ(agent->wait(10s), 0);
  EXPECT_EQ(agent->errors(), "");
}

}  // namespace
}  // namespace talvori
