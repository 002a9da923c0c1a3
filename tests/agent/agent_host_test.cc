// The agent binary with hosts and surroundings that misbehave: locales the machine lacks, a host
// that stops reading, display platforms that cannot work, standard descriptors closed at start,
// chatty libraries, engine programs that die while idle, and lines far too long.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"

#include "tests/support/agent_process.h"

namespace talvori {
namespace {

using namespace std::chrono_literals;
using testing::AgentProcess;
using testing::childrenOf;
using testing::errorReply;
using testing::requestLine;
using testing::startHeadlessAgent;
using testing::statusKib;
using testing::textReply;

const std::string kSpanish = "El perro come la manzana en la casa.";
const std::string kSpanishInEnglish = "The dog eats the apple in the house.";

// Sends one request and expects `reply` as the next line.
void expectReply(AgentProcess& agent, const std::string& request, const std::string& reply) {
  const std::size_t before = agent.readLines(0, 0ms).size();
  agent.write(request);
  const auto lines = agent.readLines(before + 1, 60s);
  ASSERT_EQ(lines.size(), before + 1) << agent.errors();
  EXPECT_EQ(lines.back(), reply);
}

// Sends one request, expects `reply`, ends the agent and expects a clean end.
void expectOneReply(AgentProcess& agent, const std::string& request, const std::string& reply) {
  agent.write(request);
  const auto lines = agent.readLines(1, 60s);
  ASSERT_EQ(lines.size(), 1u) << agent.errors();
  EXPECT_EQ(lines[0], reply);
  agent.closeInput();
  EXPECT_EQ(agent.wait(20s), 0);
  EXPECT_EQ(agent.errors(), "");
}

// Locales that the machine lacks, named by the host in any of the variables, must not reach
// the engine's programs.
TEST(AgentHost, TranslatesWhateverLocaleTheHostNames) {
  const std::vector<std::vector<std::string>> settings = {
      {"LC_ALL=", "LANG=en_US.UTF-8"},
      {"LC_ALL=", "LANG=C.UTF-8", "LC_MESSAGES=zh_CN.UTF-8"},
      {"LC_ALL=tlh_QO.UTF-8"},
  };
  for (const auto& environment : settings) {
    SCOPED_TRACE(environment.back());
    auto agent = startHeadlessAgent({.environment = environment});
    expectOneReply(*agent, requestLine("1", kSpanish, "en"), textReply("1", kSpanishInEnglish));
  }
}

// A host that writes requests and stops reading replies is held back by the pipe once the agent
// has a bounded amount of work in hand; when it reads again, every reply arrives, in order.
TEST(AgentHost, AHostThatStopsReadingIsHeldBackWithoutLosingAnything) {
  auto agent = startHeadlessAgent();
  agent->write(requestLine("warm", "hello", "en"));
  ASSERT_EQ(agent->readLines(1, 30s).size(), 1u) << agent->errors();
  const long before = statusKib(agent->pid(), "VmHWM:");

  // Refused requests: answered at admission, so the agent's pace is the host's.
  const std::string id(80, 'i');
  std::atomic<long> sent = 0;
  std::atomic<bool> stop = false;
  std::thread writer([&] {
    std::string batch;
    for (int i = 0; i < 1000; ++i) batch += requestLine(id, "x", "xx");
    while (!stop && sent < 64L << 20) {
      if (!agent->write(batch)) break;
      sent += static_cast<long>(batch.size());
    }
  });
  // Wait until the writer is held back: nothing more goes through for a second.
  long seen = -1;
  while (sent != seen && sent < 64L << 20) {
    seen = sent;
    std::this_thread::sleep_for(1s);
  }
  const long peak = statusKib(agent->pid(), "VmHWM:");
  EXPECT_LT(sent, 64L << 20) << "the host was never held back";
  EXPECT_LT(peak - before, 48 * 1024) << "before " << before << " KiB, peak " << peak << " KiB";

  // Reading again lets the writer's last batch through.
  stop = true;
  std::atomic<bool> written = false;
  std::thread finisher([&] {
    writer.join();
    written = true;
  });
  while (!written) agent->readLines(SIZE_MAX, 100ms);
  finisher.join();
  const std::size_t requests = static_cast<std::size_t>(sent) / requestLine(id, "x", "xx").size();
  const auto lines = agent->readLines(requests + 1, 120s);
  agent->closeInput();
  EXPECT_EQ(agent->wait(20s), 0);
  ASSERT_EQ(lines.size(), requests + 1) << agent->errors();
  for (std::size_t i = 1; i < lines.size(); ++i) {
    ASSERT_EQ(lines[i], errorReply(id, testing::kInvalidMessage)) << "reply " << i;
  }
  EXPECT_EQ(agent->errors(), "");
}

// A host that closes the agent's input and waits for it to end before reading anything: the
// agent ends at once even though a reply write waits for the host.
TEST(AgentHost, EndsAtTheEndOfInputEvenWhileAReplyWaitsForTheHost) {
  auto agent = startHeadlessAgent();
  const std::string id(90, '7');
  std::string input;
  for (int i = 0; i < 3000; ++i) input += requestLine(id, "x", "xx");
  ASSERT_TRUE(agent->write(input));
  agent->closeInput();
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = agent->pid();
  while (testing::alive(pid) && std::chrono::steady_clock::now() - start < 20s) {
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_FALSE(testing::alive(pid)) << "still running with its input closed";
  EXPECT_EQ(agent->wait(20s), 0);
  // What had been written stays whole: complete replies, in order.
  const auto lines = agent->readLines(3000, 1s);
  EXPECT_FALSE(lines.empty());
  for (const auto& line : lines) ASSERT_EQ(line, errorReply(id, testing::kInvalidMessage));
  EXPECT_EQ(agent->errors(), "");
}

// Standard streams left non-blocking by the host: the agent waits for requests instead of taking
// "nothing yet" for the end of input, and for room instead of dropping or cutting replies; with
// a host slower to read than the agent writes, every reply arrives exactly once and whole.
TEST(AgentHost, WaitsOnNonBlockingStandardStreams) {
  auto agent = startHeadlessAgent({.nonBlocking = {0, 1}});
  expectReply(*agent, requestLine("first", "hello", "en"), textReply("first", "hello"));
  std::this_thread::sleep_for(300ms);  // no input now: an agent that gave up would end here
  std::string input;
  std::vector<std::string> expected;
  for (int i = 0; i < 300; ++i) {
    const std::string id = std::to_string(i);
    // English for English, answered at admission like the invalid ones, so in order.
    std::string text = "Good morning to all of you, my friends " + id + ".";
    if (i % 3 == 0) {
      for (int k = 0; k < 6; ++k) text += " " + text;
    }
    input += requestLine(id, text, i % 5 == 0 ? "xx" : "en");
    expected.push_back(i % 5 == 0 ? errorReply(id, testing::kInvalidMessage) : textReply(id, text));
  }
  ASSERT_TRUE(agent->write(input));
  std::this_thread::sleep_for(1s);  // the replies fill the pipe while the host does not read
  auto lines = agent->readLines(expected.size() + 1, 60s);
  ASSERT_FALSE(lines.empty());
  lines.erase(lines.begin());
  ASSERT_EQ(lines.size(), expected.size()) << agent->errors();
  for (std::size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(lines[i], expected[i]) << i;
  agent->closeInput();
  EXPECT_EQ(agent->wait(20s), 0);
  EXPECT_EQ(agent->output().size(), agent->output().rfind('\n') + 1);
  EXPECT_EQ(agent->errors(), "");
}

// A display platform named in the environment that cannot be used here gives way to the
// offscreen one, whether Qt reports the failure or dies of it.
TEST(AgentHost, FallsBackToOffscreenFromAnyUnusablePlatform) {
  for (const char* platform : {"wayland", "xcb", "eglfs", "linuxfb", "wyland", "xcb;wayland"}) {
    SCOPED_TRACE(platform);
    AgentProcess agent(std::string(TALVORI_BINARY_DIR) + "/talvori",
                       {.environment = {std::string("QT_QPA_PLATFORM=") + platform, "DISPLAY=:97",
                                        "WAYLAND_DISPLAY=wayland-97"}});
    expectOneReply(agent, requestLine("1", "hello", "en"), textReply("1", "hello"));
  }
}

// With nothing to do the agent sleeps: no timer or animation wakes it while nobody can see the
// panel.
TEST(AgentHost, AnIdleAgentSleeps) {
  auto agent = startHeadlessAgent();
  agent->write(requestLine("1", kSpanish, "en"));
  ASSERT_EQ(agent->readLines(1, 60s).size(), 1u) << agent->errors();
  std::this_thread::sleep_for(1s);
  const long before = testing::wakeUps(agent->pid());
  std::this_thread::sleep_for(4s);
  EXPECT_LE(testing::wakeUps(agent->pid()) - before, 4) << "woken more than once a second";
}

// Standard descriptors closed at start are opened on /dev/null before anything else takes their
// numbers: replies never go into a descriptor of the agent's own.
TEST(AgentHost, StandardDescriptorsClosedAtStartLeadToNullDevice) {
  for (int closed : {1, 2}) {
    SCOPED_TRACE(closed);
    auto agent = startHeadlessAgent({.closed = {closed}});
    agent->write(requestLine("1", "hello", "en"));
    if (closed == 2) {
      ASSERT_EQ(agent->readLines(1, 30s).size(), 1u);
    } else {
      // The reader starts last, once everything the agent opens at start-up is open: wait until
      // it has taken the request from the pipe.
      const auto deadline = std::chrono::steady_clock::now() + 30s;
      while (testing::pipeBytes(::getpid(), agent->inputFd()) != 0 &&
             std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
      }
      EXPECT_EQ(testing::pipeBytes(::getpid(), agent->inputFd()), 0);
    }
    const auto fd = "/proc/" + std::to_string(agent->pid()) + "/fd/" + std::to_string(closed);
    EXPECT_EQ(std::filesystem::read_symlink(fd), "/dev/null");
    agent->closeInput();
    EXPECT_EQ(agent->wait(20s), 0);
  }
  // Without standard input there is nothing to read: the agent ends at once, saying nothing.
  auto agent = startHeadlessAgent({.closed = {0}});
  EXPECT_EQ(agent->wait(20s), 0);
  EXPECT_EQ(agent->output(), "");
}

// Valid JSON that a stricter reader would refuse still gets its answer: a huge number in a member
// that is ignored anyway, and an escaped surrogate cut from its partner.
TEST(AgentHost, AnswersValidJsonWithOutOfRangeValues) {
  auto agent = startHeadlessAgent();
  agent->write(R"({"id":"n","text":"El gato.","target":"en","x":1e400})"
               "\n");
  agent->write(R"({"id":"s","text":"El perro \ud800 come.","target":"en"})"
               "\n");
  const auto lines = agent->readLines(2, 60s);
  ASSERT_EQ(lines.size(), 2u) << agent->errors();
  EXPECT_EQ(lines[0], textReply("n", "The cat."));
  EXPECT_TRUE(lines[1].starts_with(R"({"id":"s","text":"The dog )")) << lines[1];
  agent->closeInput();
  EXPECT_EQ(agent->wait(20s), 0);
}

// Libraries that write to standard error on their own (the font configuration here, and
// whatever fails when descriptors run out) never reach the host.
TEST(AgentHost, NothingReachesStandardErrorWhoeverWritesIt) {
  {
    auto agent = startHeadlessAgent({.environment = {"FONTCONFIG_FILE=/nonexistent/fonts.conf"}});
    expectOneReply(*agent, requestLine("1", "hello", "en"), textReply("1", "hello"));
  }
  auto agent = startHeadlessAgent({.wrapper = {"/usr/bin/prlimit", "--nofile=6"}});
  agent->write(requestLine("1", "hello", "en"));
  agent->readLines(1, 20s);
  agent->closeInput();
  agent->wait(20s);
  EXPECT_EQ(agent->errors(), "");
}

// An engine program that dies while the agent is idle costs no request.
TEST(AgentHost, AnEngineProgramThatDiedWhileIdleCostsNoRequest) {
  auto agent = startHeadlessAgent();
  agent->write(requestLine("1", kSpanish, "en"));
  ASSERT_EQ(agent->readLines(1, 60s).size(), 1u) << agent->errors();
  const auto pipeline = childrenOf(agent->pid());
  ASSERT_GT(pipeline.size(), 2u);
  ::kill(pipeline[1], SIGKILL);
  while (testing::alive(pipeline[1])) std::this_thread::sleep_for(10ms);
  agent->write(requestLine("2", kSpanish, "en"));
  const auto lines = agent->readLines(2, 60s);
  ASSERT_EQ(lines.size(), 2u) << agent->errors();
  EXPECT_EQ(lines[1], textReply("2", kSpanishInEnglish));
  agent->closeInput();
  EXPECT_EQ(agent->wait(20s), 0);
}

// A huge line of bytes that are not UTF-8, each of which stands for a three-byte U+FFFD, is read,
// decoded and refused with memory within a small multiple of its size.
TEST(AgentHost, AHugeIllFormedLineCostsASmallMultipleOfItsSize) {
  // The checked build's allocator holds freed blocks back; hand them back at once.
  auto agent = startHeadlessAgent(
      {.environment = {
           "ASAN_OPTIONS=" + std::string(getenv("ASAN_OPTIONS") ? getenv("ASAN_OPTIONS") : "") +
           ":quarantine_size_mb=0"}});
  agent->write(requestLine("warm", "hello", "en"));
  ASSERT_EQ(agent->readLines(1, 30s).size(), 1u) << agent->errors();
  const long before = statusKib(agent->pid(), "VmHWM:");
  constexpr long kSize = 48L << 20;
  std::string huge = R"({"id":"huge","target":"en","text":")";
  huge.append(kSize, '\xFF');
  huge += "\"}\n";
  std::thread writer([&] { agent->write(huge); });
  const auto lines = agent->readLines(2, 120s);
  writer.join();
  ASSERT_EQ(lines.size(), 2u) << agent->errors();
  EXPECT_EQ(lines[1], errorReply("huge", testing::kInvalidMessage));
  const long peak = statusKib(agent->pid(), "VmHWM:");
  EXPECT_LT((peak - before) * 1024, 6 * kSize) << "before " << before << " KiB, peak " << peak;
  agent->closeInput();
  EXPECT_EQ(agent->wait(20s), 0);
  EXPECT_EQ(agent->errors(), "");
}

}  // namespace
}  // namespace talvori
