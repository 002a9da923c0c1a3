// A running Apertium translation pipeline: the programs of one mode file, started in null-flush
// mode and connected by pipes, that translate NUL-terminated frames.
//
// The text only ever reaches the programs through the first one's standard input; no shell runs.
// Each program's standard error goes to /dev/null. The programs form a process group of their
// own, and each asks the kernel for SIGKILL when the thread that started it ends, so that they
// end with the agent even when it leaves by _Exit. A pipeline belongs to the thread that started
// it: start it, exchange frames and destroy it on that one thread, which should block SIGPIPE
// (see blockBrokenPipeSignal).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talvori {

using ProgramList = std::vector<std::vector<std::string>>;
using Deadline = std::chrono::steady_clock::time_point;

// Splits a mode file's shell pipeline ("lt-proc -z 'a.bin' | apertium-tagger -g $2 'b.prob'")
// into one argument vector per program, the way the shell would for this plain form: words,
// single and double quotes, backslash escapes and "|". $1 becomes `generatorOption` and $2 is
// dropped, as the apertium script fills them for unmarked plain-text translation; a "2>/dev/null"
// redirection is dropped. None for anything else a shell would interpret (";", "&", "$(...)",
// other redirections...) or an empty program.
std::optional<ProgramList> parseModeCommand(std::string_view command,
                                            std::string_view generatorOption);

// The programs of `modeFile` in null-flush mode, exactly as the apertium script would run them:
// the engine's apertium-wblank-mode rewrites the mode (adding -z to each program and the
// word-bound blank helpers). When that tool is missing or fails, the mode file is read directly
// and each program gets -z after its name. Unknown-word marks are hidden (-n for the generator).
std::optional<ProgramList> loadModePrograms(const std::filesystem::path& modeFile,
                                            Deadline deadline);

// Blocks SIGPIPE for the calling thread, so that writing to a pipeline whose programs died
// gives EPIPE instead of ending the process. Children started by this thread get the default
// disposition and an empty mask back before they run.
void blockBrokenPipeSignal();

class ApertiumPipeline {
 public:
  // Starts `programs` connected by pipes; none when a program cannot be found or started (any
  // program already started is killed and reaped).
  static std::unique_ptr<ApertiumPipeline> start(const ProgramList& programs);

  // Kills the process group and reaps every program.
  ~ApertiumPipeline();

  ApertiumPipeline(const ApertiumPipeline&) = delete;
  ApertiumPipeline& operator=(const ApertiumPipeline&) = delete;

  // Whether every program is still running; one that has ended (killed while the pipeline sat
  // idle, say) is reaped, and the pipeline must not be used again.
  bool alive();

  // Writes each of `frames` (which must hold no NUL) followed by a NUL, back to back, and reads
  // one NUL-ended answer per frame, writing and reading at once so that neither side can fill a
  // pipe and stall, and so that the programs work on several frames at the same time. Gives the
  // answers without their NULs. Fails (none) when the output ends (a program exited),
  // `deadline` passes, or the answers run past `maximumAnswer` bytes, come before their frames
  // were written or are followed by unrequested output. After a failure the pipeline must not be
  // used again.
  std::optional<std::vector<std::string>> exchange(const std::vector<std::string>& frames,
                                                   Deadline deadline, std::size_t maximumAnswer);

 private:
  ApertiumPipeline() = default;
  void stop();

  std::vector<pid_t> children_;
  pid_t group_ = 0;
  int input_ = -1;   // the first program's standard input
  int output_ = -1;  // the last program's standard output
};

}  // namespace talvori
