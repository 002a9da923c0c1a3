// Child processes through pipes: what they get (environment, directory, descriptors, signals),
// what comes back, and how every fault is a value.
#include "base/subprocess.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"

#include "tests/support/agent_process.h"

namespace talvori {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

Deadline in(std::chrono::milliseconds time) { return std::chrono::steady_clock::now() + time; }

// Everything the programs write until their output ends.
std::string readAll(Subprocess& process) {
  std::string text;
  std::array<char, 4096> buffer;
  while (true) {
    const Transfer got = process.read(buffer, in(20s));
    if (got.status != IoStatus::ok) {
      EXPECT_EQ(got.status, IoStatus::closed);
      return text;
    }
    text.append(buffer.data(), got.read);
  }
}

std::unique_ptr<Subprocess> shell(const std::string& script, SubprocessOptions options = {}) {
  return Subprocess::start({{"sh", "-c", script}}, options);
}

std::vector<pid_t> children() { return testing::childrenOf(::getpid()); }

bool sigpipeBlockedHere() {
  sigset_t mask;
  ::pthread_sigmask(SIG_SETMASK, nullptr, &mask);
  return sigismember(&mask, SIGPIPE) == 1;
}

TEST(SubprocessTest, JoinsProgramsLikeAShellPipeline) {
  auto process = Subprocess::start({{"tr", "a-z", "A-Z"}, {"sed", "s/O/0/g"}});
  ASSERT_TRUE(process);
  EXPECT_TRUE(process->alive());
  ASSERT_EQ(process->write("hello world\n", in(20s)), IoStatus::ok);
  process->closeInput();  // the programs buffer their output until their input ends
  std::array<char, 6> start;
  ASSERT_EQ(process->readExactly(start, in(20s)), IoStatus::ok);
  EXPECT_EQ(std::string(start.data(), start.size()), "HELL0 ");
  EXPECT_EQ(readAll(*process), "W0RLD\n");
  EXPECT_EQ(process->wait(in(20s)), 0);
  EXPECT_FALSE(process->alive());
  EXPECT_EQ(process->write("more", in(1s)), IoStatus::failed);
  EXPECT_EQ(process->readExactly(start, in(1s)), IoStatus::closed);
}

// A megabyte through a program that answers as it reads: written and read at once, neither side
// waits on a full pipe.
TEST(SubprocessTest, TransfersBothWaysAtOnce) {
  auto process = Subprocess::start({{"cat"}});
  ASSERT_TRUE(process);
  std::string data;
  for (int i = 0; data.size() < (1 << 20); ++i) data += std::to_string(i) + ",";
  std::string echoed;
  std::size_t written = 0;
  std::array<char, 4096> buffer;
  while (echoed.size() < data.size()) {
    const Transfer moved =
        process->transfer(std::string_view(data).substr(written), buffer, in(20s));
    ASSERT_EQ(moved.status, IoStatus::ok);
    written += moved.written;
    echoed.append(buffer.data(), moved.read);
  }
  EXPECT_EQ(echoed, data);
}

// The programs get the environment, directory and standard streams asked for, and nothing of
// the agent's beyond them: no descriptor above 2, no blocked or ignored SIGPIPE.
TEST(SubprocessTest, GivesTheProgramsOnlyWhatTheyAreMeantToHave) {
  const fs::path folder =
      fs::temp_directory_path() / ("subprocess_test_" + std::to_string(getpid()));
  fs::create_directories(folder);
  const int leaked =
      ::open("/dev/null", O_RDONLY);  // inheritable, as a careless library's would be
  ASSERT_GE(leaked, 0);
  ASSERT_EQ(::dup2(leaked, 100), 100);
  auto process = shell(
      "echo \"$GREETING|$HOME\"; pwd; readlink /proc/$$/fd/2; [ -e /proc/$$/fd/100 ] && echo "
      "open || echo closed; echo noise >&2",
      {.environment = std::vector<std::string>{"GREETING=hi", "PATH=/usr/bin:/bin"},
       .workingDirectory = folder});
  // Read by the program itself, started straight from the agent's side with SIGPIPE blocked
  // (as starting leaves it) and ignored.
  ::signal(SIGPIPE, SIG_IGN);
  auto status = Subprocess::start({{"grep", "-E", "^Sig(Blk|Ign)", "/proc/self/status"}});
  ::signal(SIGPIPE, SIG_DFL);
  ::close(100);
  ::close(leaked);
  ASSERT_TRUE(process && status);
  EXPECT_EQ(readAll(*process), "hi|\n" + folder.string() + "\n/dev/null\nclosed\n");
  EXPECT_EQ(process->wait(in(20s)), 0);
  EXPECT_EQ(readAll(*status), "SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n");
  fs::remove_all(folder);
}

TEST(SubprocessTest, StartFaultsAreValues) {
  EXPECT_EQ(Subprocess::start({}), nullptr);
  EXPECT_EQ(Subprocess::start({{}}), nullptr);
  EXPECT_EQ(Subprocess::start({{"no-such-program-anywhere"}}), nullptr);
  EXPECT_EQ(Subprocess::start({{"cat"}, {"/etc/passwd"}}), nullptr) << "not executable";
  EXPECT_EQ(Subprocess::start({{"cat"}}, {.workingDirectory = "/no/such/folder"}), nullptr);
  // A file the system cannot execute, found executable: the program started before it is ended.
  const fs::path script = fs::temp_directory_path() / ("not_a_program_" + std::to_string(getpid()));
  std::ofstream(script) << "\x7f"
                           "ELF but not really";
  fs::permissions(script, fs::perms::owner_all);
  EXPECT_EQ(Subprocess::start({{"sleep", "30"}, {script.string()}}), nullptr);
  fs::remove(script);
  EXPECT_TRUE(children().empty());
}

// Programs that die, stall or will not stop: each gives a status, and nothing is left behind.
TEST(SubprocessTest, IoFaultsAreValuesAndStopLeavesNothing) {
  // Writing to a program that has ended gives `closed`, not SIGPIPE.
  auto ended = Subprocess::start({{"true"}});
  ASSERT_TRUE(ended);
  EXPECT_EQ(ended->wait(in(20s)), 0);
  EXPECT_FALSE(ended->alive());
  EXPECT_EQ(ended->write("into the void", in(20s)), IoStatus::closed);
  sigset_t pending;
  ::sigpending(&pending);
  EXPECT_FALSE(sigismember(&pending, SIGPIPE)) << "left pending, to strike once unblocked";
  EXPECT_EQ(shell("exit 3")->wait(in(20s)), 3);
  EXPECT_EQ(shell("kill -9 $$")->wait(in(20s)), 128 + SIGKILL);

  auto silent = Subprocess::start({{"sleep", "30"}});
  ASSERT_TRUE(silent);
  std::array<char, 16> buffer;
  EXPECT_EQ(silent->read(buffer, in(50ms)).status, IoStatus::timedOut);
  EXPECT_EQ(silent->wait(in(50ms)), std::nullopt);
  EXPECT_TRUE(silent->alive());
  silent->stop();
  EXPECT_FALSE(silent->alive());
  EXPECT_EQ(silent->read(buffer, in(1s)).status, IoStatus::failed);
  EXPECT_EQ(silent->write("x", in(1s)), IoStatus::failed);
  EXPECT_EQ(silent->wait(in(1s)), std::nullopt);

  // SIGTERM first, so a program can leave tidily; SIGKILL for one that will not, and for
  // whatever the programs started in their group.
  const fs::path marker = fs::temp_directory_path() / ("term_marker_" + std::to_string(getpid()));
  auto tidy = shell("trap 'echo tidied >" + marker.string() +
                        "; exit 0' TERM; echo ready; while :; do sleep 0.02; done",
                    {.stopGrace = 20s});
  auto stubborn = shell("trap '' TERM; sleep 30 & echo $!; wait", {.stopGrace = 100ms});
  ASSERT_TRUE(tidy && stubborn);
  std::array<char, 6> ready;
  ASSERT_EQ(tidy->readExactly(ready, in(20s)), IoStatus::ok);
  std::string grandchild;
  for (char c = 0; c != '\n';) {
    ASSERT_EQ(stubborn->readExactly({&c, 1}, in(20s)), IoStatus::ok);
    grandchild += c;
  }
  tidy.reset();
  std::ifstream tidied(marker);
  std::string word;
  tidied >> word;
  EXPECT_EQ(word, "tidied");
  fs::remove(marker);
  stubborn.reset();
  EXPECT_TRUE(children().empty());
  const auto gone = [pid = std::stoi(grandchild)] { return !testing::alive(pid); };
  for (int i = 0; i < 2000 && !gone(); ++i) std::this_thread::sleep_for(10ms);
  EXPECT_TRUE(gone()) << "the program's own child outlived it";
}

// SIGPIPE is blocked on the starting thread only, and the programs end with that thread.
TEST(SubprocessTest, BelongsToTheThreadThatStartedIt) {
  std::unique_ptr<Subprocess> process;
  bool blockedThere = false;
  bool blockedBeside = true;
  // A thread with SIGPIPE unblocked, whatever earlier tests did to the main thread; a thread
  // inherits its creator's mask.
  std::thread clean([&] {
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    ::pthread_sigmask(SIG_UNBLOCK, &pipeSignal, nullptr);
    std::thread starter([&] {
      process = Subprocess::start({{"sleep", "30"}});
      blockedThere = sigpipeBlockedHere();
    });
    starter.join();
    blockedBeside = sigpipeBlockedHere();
  });
  clean.join();
  ASSERT_TRUE(process);
  EXPECT_TRUE(blockedThere);
  EXPECT_FALSE(blockedBeside);
  EXPECT_EQ(process->wait(in(20s)), 128 + SIGKILL);
}

}  // namespace
}  // namespace talvori
