// Runs the agent binary as a host would: requests on its standard input, replies read from its
// standard output, its standard error collected.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talvori::testing {

// The agent starts with SIGPIPE's default action, as a child of most hosts does, or with it
// ignored as a host that ignores it would leave it.
enum class BrokenPipe { defaultAction, ignored };

// How an agent is started.
struct Launch {
  // Extra environment entries ("NAME=value"), replacing inherited ones of the same name.
  std::vector<std::string> environment = {};
  BrokenPipe brokenPipe = BrokenPipe::defaultAction;
  // A command the agent is run through, given the binary as its last argument ("prlimit ...").
  std::vector<std::string> wrapper = {};
  // Standard descriptors (0, 1, 2) the agent starts without.
  std::vector<int> closed = {};
  // Standard descriptors (0, 1) the agent starts with O_NONBLOCK set, as a host's event loop may
  // leave them.
  std::vector<int> nonBlocking = {};
};

class AgentProcess {
 public:
  // Starts `binary`. Reports of the checked builds' sanitizers are sent to files of this
  // process, since the agent's own standard error leads nowhere.
  explicit AgentProcess(const std::string& binary, Launch launch = {});
  ~AgentProcess();
  AgentProcess(const AgentProcess&) = delete;
  AgentProcess& operator=(const AgentProcess&) = delete;

  pid_t pid() const { return pid_; }

  // The host's end of the agent's standard input.
  int inputFd() const { return input_; }

  // Writes bytes to the agent's standard input; false when the agent no longer reads.
  bool write(const std::string& bytes);
  void closeInput();
  // Closes the host's end of the agent's standard output, as a host that stops listening would.
  void closeOutput();

  // Reads reply lines until `count` have arrived in all or `timeout` passes; gives all lines
  // read so far, without their line feeds.
  std::vector<std::string> readLines(std::size_t count, std::chrono::milliseconds timeout);

  // Waits for the agent to end; gives its exit status, or none when it did not end in time or
  // was ended by a signal.
  std::optional<int> wait(std::chrono::milliseconds timeout);

  // Everything written to standard output so far (after wait).
  const std::string& output() const { return output_; }
  // Everything written to standard error, and every sanitizer report, so far.
  std::string errors() const;
  // The wait status of the agent once wait has seen it end.
  int status() const { return status_; }

 private:
  void pump(int timeoutMs);

  pid_t pid_ = -1;
  int input_ = -1;
  int stdout_ = -1;
  int stderr_ = -1;
  std::string output_;
  std::string errors_;
  std::size_t lineStart_ = 0;
  std::vector<std::string> lines_;
  bool reaped_ = false;
  int status_ = 0;
  std::string reports_;  // the sanitizer reports' path prefix
};

// The agent's fixed error messages, as a host reads them.
inline const std::string kInvalidMessage = "文字为空、过长或语言设置无效。";
inline const std::string kQueueFullMessage = "翻译队列已满，请稍后重试。";
inline const std::string kUnsupportedMessage = "系统不支持这组语言，或无法识别这段文字。";
inline const std::string kFailedMessage = "本地翻译未完成。请重试并允许系统下载语言包。";

// The agent built with the tests, started headless (offscreen). Unless the launch's environment
// names DBUS_SYSTEM_BUS_ADDRESS, the agent finds no system bus, and so no PackageKit.
std::unique_ptr<AgentProcess> startHeadlessAgent(Launch launch = {});

// What /proc tells of a process: the fields of its stat file after the command name (the state
// first), its command line (arguments separated by NUL), its children (live ones unless zombies
// are asked for too), whether it is alive (not a zombie), its user plus system CPU time in clock
// ticks, a field of its status file in KiB ("VmHWM:"), and how often its threads have gone to
// sleep and woken up since it started. A process that has ended tells nothing: empty answers.
std::vector<std::string> statFields(pid_t pid);
std::string commandLineOf(pid_t pid);
enum class Zombies { leftOut, counted };
std::vector<pid_t> childrenOf(pid_t parent, Zombies zombies = Zombies::leftOut);
bool alive(pid_t pid);
long cpuTicks(pid_t pid);
long statusKib(pid_t pid, std::string_view field);
long wakeUps(pid_t pid);
// How many bytes wait unread in the pipe that descriptor `fd` of process `pid` is an end of (-1
// when it is not a pipe), and whether a process has settled: the CPU time of it and its
// children the same over two looks `interval` apart.
long pipeBytes(pid_t pid, int fd);
bool settles(pid_t pid, std::chrono::milliseconds interval);

// Stops each of `pids` with SIGSTOP and waits until every one is stopped (or gone), so that no
// byte written to them afterwards can be taken by a read already under way; gives whether all
// stopped in time.
bool stopProcesses(const std::vector<pid_t>& pids,
                   std::chrono::milliseconds timeout = std::chrono::seconds(20));

// One request line, ended by a line feed, and the reply lines (without their line feed) a
// success and a failure give. The strings are put in as they are, unescaped.
std::string requestLine(const std::string& id, const std::string& text, const std::string& target);
std::string textReply(const std::string& id, const std::string& text);
std::string errorReply(const std::string& id, const std::string& error);

}  // namespace talvori::testing
