#include "tests/agent_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

extern char** environ;

namespace talvori::testing {

AgentProcess::AgentProcess(const std::string& binary, std::vector<std::string> environment,
                           BrokenPipe brokenPipe) {
  // The test itself must survive writing to an agent that has ended.
  signal(SIGPIPE, SIG_IGN);
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  // The given entries replace inherited ones of the same name.
  std::vector<std::string> entries;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string_view entry(*e);
    const std::string_view name = entry.substr(0, entry.find('=') + 1);
    bool replaced = false;
    for (const auto& given : environment) replaced = replaced || given.starts_with(name);
    if (!replaced) entries.emplace_back(entry);
  }
  for (auto& e : environment) entries.push_back(std::move(e));
  std::vector<char*> envp;
  for (auto& e : entries) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string path = binary;
  char* argv[] = {path.data(), nullptr};
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  if (brokenPipe == BrokenPipe::defaultAction) {
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &pipeSignal);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  }
  if (posix_spawn(&pid_, path.c_str(), &actions, &attributes, argv, envp.data()) != 0) pid_ = -1;
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  input_ = in[1];
  stdout_ = out[0];
  stderr_ = err[0];
}

AgentProcess::~AgentProcess() {
  if (pid_ > 0 && !reaped_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  for (int fd : {input_, stdout_, stderr_}) {
    if (fd >= 0) close(fd);
  }
}

bool AgentProcess::write(const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(input_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

void AgentProcess::closeInput() {
  if (input_ >= 0) close(input_);
  input_ = -1;
}

void AgentProcess::closeOutput() {
  if (stdout_ >= 0) close(stdout_);
  stdout_ = -1;
}

void AgentProcess::pump(int timeoutMs) {
  pollfd fds[2] = {{stdout_, POLLIN, 0}, {stderr_, POLLIN, 0}};
  if (poll(fds, 2, timeoutMs) <= 0) return;
  char buffer[65536];
  for (int i = 0; i < 2; ++i) {
    if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP)) == 0) continue;
    const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
    if (n <= 0) {
      close(fds[i].fd);
      (i == 0 ? stdout_ : stderr_) = -1;
      continue;
    }
    (i == 0 ? output_ : errors_).append(buffer, static_cast<std::size_t>(n));
  }
  std::size_t end;
  while ((end = output_.find('\n', lineStart_)) != std::string::npos) {
    lines_.push_back(output_.substr(lineStart_, end - lineStart_));
    lineStart_ = end + 1;
  }
}

std::vector<std::string> AgentProcess::readLines(std::size_t count,
                                                 std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (lines_.size() < count && (stdout_ >= 0 || stderr_ >= 0)) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pump(static_cast<int>(left.count()));
  }
  return lines_;
}

std::optional<int> AgentProcess::wait(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!reaped_) {
    const pid_t done = waitpid(pid_, &status_, WNOHANG);
    if (done == pid_) {
      reaped_ = true;
      break;
    }
    if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
    if (stdout_ >= 0 || stderr_ >= 0) {
      pump(10);
    } else {
      usleep(5000);
    }
  }
  // Collect what is left; a descendant that kept the pipes open must not hold us here.
  while ((stdout_ >= 0 || stderr_ >= 0) && std::chrono::steady_clock::now() < deadline) pump(100);
  if (!WIFEXITED(status_)) return std::nullopt;
  return WEXITSTATUS(status_);
}

std::unique_ptr<AgentProcess> startHeadlessAgent(std::vector<std::string> environment) {
  environment.push_back("QT_QPA_PLATFORM=offscreen");
  // No test may install anything through the machine's own PackageKit: unless the test brings a
  // bus of its own, the system bus is one that cannot be reached.
  const std::string bus = "DBUS_SYSTEM_BUS_ADDRESS=";
  bool busGiven = false;
  for (const auto& entry : environment) busGiven = busGiven || entry.starts_with(bus);
  if (!busGiven) environment.push_back(bus + "unix:path=/nonexistent/talvori/system_bus_socket");
  return std::make_unique<AgentProcess>(std::string(TALVORI_BINARY_DIR) + "/talvori",
                                        std::move(environment));
}

std::string requestLine(const std::string& id, const std::string& text, const std::string& target) {
  return R"({"id":")" + id + R"(","text":")" + text + R"(","target":")" + target + "\"}\n";
}

}  // namespace talvori::testing
