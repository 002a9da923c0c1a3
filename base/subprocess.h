// Subprocess: programs the agent runs as its children and talks to through pipes: one program,
// or several joined as a shell joins them with "|", each one's standard output feeding the next
// one's standard input.
//
// What it promises: the caller writes to the first program's standard input and reads the last
// one's standard output; every program's standard error goes to /dev/null, so nothing a program
// prints reaches the agent's own streams. No shell runs. The programs inherit no descriptor above
// 2, start with SIGPIPE's default action and an empty signal mask, and form a process group of
// their own. Each asks the kernel for SIGKILL when the thread that started it ends, so that the
// programs end with the agent even when it leaves without running destructors.
//
// What a failure gives: start gives null, and nothing is left running; reading, writing and
// waiting give a status; nothing throws, and no signal reaches the agent. Starting blocks SIGPIPE
// on the calling thread, and on that thread only, and leaves it blocked there, so that writing to
// programs that have ended gives `closed` instead of ending the agent; the process's signal
// dispositions and its other threads are left alone.
//
// Threads: one thread at a time uses a Subprocess. Start it on a thread that outlives it (its
// programs die with that thread) and write to it on that thread (the one with SIGPIPE blocked);
// reading, waiting and stopping work on any. Different Subprocesses may live on different
// threads.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace talvori {

using Deadline = std::chrono::steady_clock::time_point;

// A program and its arguments, as its argument vector: the first word names the program, as a
// path when it holds a "/", else by a look-up on the agent's PATH and then in /usr/bin.
using Command = std::vector<std::string>;

struct SubprocessOptions {
  // The programs' whole environment, "NAME=value" each; none gives them the agent's own.
  std::optional<std::vector<std::string>> environment = std::nullopt;
  // Where the programs run; empty for the agent's own working directory.
  std::filesystem::path workingDirectory = {};
  // How long stop() waits between SIGTERM and SIGKILL for the programs to end on their own.
  std::chrono::milliseconds stopGrace{1000};
};

// How a read or a write ended.
enum class IoStatus {
  ok,        // bytes moved
  timedOut,  // the deadline passed first
  closed,    // the output has ended, or the first program no longer reads its input
  failed,    // any other fault, including use after stop()
};

struct Transfer {
  IoStatus status = IoStatus::ok;
  std::size_t written = 0;  // bytes of the data given that the first program took
  std::size_t read = 0;     // bytes of output placed at the start of the buffer given
};

class Subprocess {
 public:
  // Starts `programs` (at least one), joined by pipes. Null when a program cannot be found or
  // run, the working directory cannot be entered, or the system refuses a process or a pipe.
  static std::unique_ptr<Subprocess> start(const std::vector<Command>& programs,
                                           const SubprocessOptions& options = {});

  // stop()s the programs.
  ~Subprocess();

  Subprocess(const Subprocess&) = delete;
  Subprocess& operator=(const Subprocess&) = delete;

  // Whether every program is still running. One that has ended is reaped here.
  bool alive();

  // Writes as much of `data` as the first program takes and reads as much output as is there
  // into `buffer`, waiting until at least one of the two is possible or `deadline` passes. An
  // empty `data` only reads, an empty `buffer` only writes. Writing and reading in one call lets
  // a caller feed a long input while taking the output, so that neither side stalls on a full
  // pipe. `ok` when anything moved; on `closed` or `failed` some bytes may still have moved.
  Transfer transfer(std::string_view data, std::span<char> buffer, Deadline deadline);

  // Writes all of `data`, waiting for room until `deadline`.
  IoStatus write(std::string_view data, Deadline deadline);

  // Reads at least one byte of output into `buffer`, waiting until `deadline`.
  Transfer read(std::span<char> buffer, Deadline deadline);

  // Fills all of `buffer` with output, waiting until `deadline`; `closed` when the output ends
  // before the buffer is full.
  IoStatus readExactly(std::span<char> buffer, Deadline deadline);

  // Closes the first program's standard input, so that it reads the end of its input.
  void closeInput();

  // Waits until every program has ended and reaps them all; gives the exit status of the last
  // one as a shell reports it (its exit code, or 128 plus the number of the signal that ended
  // it). None when a program still runs at `deadline`, or after stop().
  std::optional<int> wait(Deadline deadline);

  // Closes both pipes, asks every program to end with SIGTERM, waits up to the options'
  // stopGrace, ends those left with SIGKILL and reaps them all. Later calls do nothing.
  void stop();

 private:
  struct Child {
    pid_t pid = 0;
    std::optional<int> status;  // the wait status, once reaped
  };

  explicit Subprocess(std::chrono::milliseconds stopGrace) : stopGrace_(stopGrace) {}
  // Reaps the children that have ended, without waiting; gives whether all have.
  bool reapEnded();
  // stop(), with `grace` between SIGTERM and SIGKILL (none: SIGKILL at once).
  void end(std::chrono::milliseconds grace);

  const std::chrono::milliseconds stopGrace_;
  std::vector<Child> children_;
  pid_t group_ = 0;
  int input_ = -1;   // the first program's standard input
  int output_ = -1;  // the last program's standard output
  bool stopped_ = false;
};

}  // namespace talvori
