// Runs the agent binary as a host would: requests on its standard input, replies read from its
// standard output, its standard error collected.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace talvori::testing {

class AgentProcess {
 public:
  // Starts `binary` with the given extra environment entries ("NAME=value"). The agent starts
  // with SIGPIPE's default action, as a child of most hosts does, or with it ignored as a host
  // that ignores it would leave it.
  enum class BrokenPipe { defaultAction, ignored };
  explicit AgentProcess(const std::string& binary, std::vector<std::string> environment = {},
                        BrokenPipe brokenPipe = BrokenPipe::defaultAction);
  ~AgentProcess();
  AgentProcess(const AgentProcess&) = delete;
  AgentProcess& operator=(const AgentProcess&) = delete;

  pid_t pid() const { return pid_; }

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

  // Everything written to standard output and standard error so far (after wait).
  const std::string& output() const { return output_; }
  const std::string& errors() const { return errors_; }
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
};

// The agent's fixed error messages, as a host reads them.
inline const std::string kInvalidMessage = "文字为空、过长或语言设置无效。";
inline const std::string kQueueFullMessage = "翻译队列已满，请稍后重试。";
inline const std::string kUnsupportedMessage = "系统不支持这组语言，或无法识别这段文字。";
inline const std::string kFailedMessage = "本地翻译未完成。请重试并允许系统下载语言包。";

// The agent built with the tests, started headless (offscreen) with the extra environment given.
// Unless that names DBUS_SYSTEM_BUS_ADDRESS, the agent finds no system bus, and so no PackageKit.
std::unique_ptr<AgentProcess> startHeadlessAgent(std::vector<std::string> environment = {});

// One request line, ended by a line feed. The strings are put in as they are, unescaped.
std::string requestLine(const std::string& id, const std::string& text, const std::string& target);

}  // namespace talvori::testing
