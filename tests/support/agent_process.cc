#include "tests/support/agent_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string_view>
#include <thread>

extern char** environ;

namespace talvori::testing {

namespace {

// The value of environment entry `name` ("NAME=") in `entries`, or empty.
std::string valueOf(const std::vector<std::string>& entries, std::string_view name) {
  for (const auto& entry : entries) {
    if (entry.starts_with(name)) return entry.substr(name.size());
  }
  return {};
}

}  // namespace

AgentProcess::AgentProcess(const std::string& binary, Launch launch) {
  // The test itself must survive writing to an agent that has ended.
  signal(SIGPIPE, SIG_IGN);
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    return;
  }
  for (int fd : launch.nonBlocking) {
    const int end = fd == 0 ? in[0] : out[1];
    fcntl(end, F_SETFL, fcntl(end, F_GETFL) | O_NONBLOCK);
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const int ours[3] = {in[0], out[1], err[1]};
  for (int fd = 0; fd <= 2; ++fd) {
    if (std::find(launch.closed.begin(), launch.closed.end(), fd) != launch.closed.end()) {
      posix_spawn_file_actions_addclose(&actions, fd);
    } else {
      posix_spawn_file_actions_adddup2(&actions, ours[fd], fd);
    }
  }
  // The given entries replace inherited ones of the same name.
  std::vector<std::string> entries;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string_view entry(*e);
    const std::string_view name = entry.substr(0, entry.find('=') + 1);
    bool replaced = false;
    for (const auto& given : launch.environment) replaced = replaced || given.starts_with(name);
    if (!replaced) entries.emplace_back(entry);
  }
  for (auto& e : launch.environment) entries.push_back(std::move(e));
  static int launched = 0;
  reports_ =
      "/tmp/talvori-sanitizer-" + std::to_string(getpid()) + "-" + std::to_string(++launched);
  for (const char* name : {"ASAN_OPTIONS=", "UBSAN_OPTIONS="}) {
    std::string options = valueOf(entries, name);
    std::erase_if(entries, [&](const std::string& e) { return e.starts_with(name); });
    entries.push_back(name + options + (options.empty() ? "" : ":") + "log_path=" + reports_);
  }
  std::vector<char*> envp;
  for (auto& e : entries) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> command = std::move(launch.wrapper);
  command.push_back(binary);
  std::vector<char*> argv;
  for (auto& word : command) argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  if (launch.brokenPipe == BrokenPipe::defaultAction) {
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &pipeSignal);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  }
  if (posix_spawn(&pid_, argv[0], &actions, &attributes, argv.data(), envp.data()) != 0) {
    pid_ = -1;
  }
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
  const std::filesystem::path prefix(reports_);
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(prefix.parent_path(), error)) {
    if (entry.path().string().starts_with(reports_ + ".")) std::filesystem::remove(entry, error);
  }
}

std::string AgentProcess::errors() const {
  std::string all = errors_;
  const std::filesystem::path prefix(reports_);
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(prefix.parent_path(), error)) {
    if (!entry.path().string().starts_with(reports_ + ".")) continue;
    std::ifstream report(entry.path());
    all += "sanitizer report " + entry.path().string() + ":\n";
    all.append(std::istreambuf_iterator<char>(report), {});
  }
  return all;
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

std::unique_ptr<AgentProcess> startHeadlessAgent(Launch launch) {
  launch.environment.push_back("QT_QPA_PLATFORM=offscreen");
  // No test may install anything through the machine's own PackageKit: unless the test brings a
  // bus of its own, the system bus is one that cannot be reached.
  const std::string bus = "DBUS_SYSTEM_BUS_ADDRESS=";
  bool busGiven = false;
  for (const auto& entry : launch.environment) busGiven = busGiven || entry.starts_with(bus);
  if (!busGiven) {
    launch.environment.push_back(bus + "unix:path=/nonexistent/talvori/system_bus_socket");
  }
  return std::make_unique<AgentProcess>(std::string(TALVORI_BINARY_DIR) + "/talvori",
                                        std::move(launch));
}

namespace {

// The whole of a file under /proc, or what was read before an error. A process may end while
// its files are read, and the read then fails (ESRCH), which a file stream would throw for.
std::string procFile(const std::string& path) {
  std::string content;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return content;
  char buffer[4096];
  for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) != 0;) {
    if (got < 0) {
      if (errno == EINTR) continue;
      break;
    }
    content.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  return content;
}

}  // namespace

std::vector<std::string> statFields(pid_t pid) {
  const std::string stat = procFile("/proc/" + std::to_string(pid) + "/stat");
  const std::size_t close = stat.rfind(')');
  if (close == std::string::npos) return {};
  std::istringstream in(stat.substr(close + 2));
  std::vector<std::string> fields;
  for (std::string field; in >> field;) fields.push_back(field);
  return fields;
}

std::string commandLineOf(pid_t pid) {
  return procFile("/proc/" + std::to_string(pid) + "/cmdline");
}

std::vector<pid_t> childrenOf(pid_t parent, Zombies zombies) {
  std::vector<pid_t> found;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const auto fields = statFields(std::stoi(name));
    if (fields.size() > 1 && (zombies == Zombies::counted || fields[0] != "Z") &&
        fields[1] == std::to_string(parent)) {
      found.push_back(std::stoi(name));
    }
  }
  return found;
}

bool alive(pid_t pid) {
  const auto fields = statFields(pid);
  return !fields.empty() && fields[0] != "Z";
}

long cpuTicks(pid_t pid) {
  const auto fields = statFields(pid);
  if (fields.size() < 13) return 0;
  return std::stol(fields[11]) + std::stol(fields[12]);
}

long statusKib(pid_t pid, std::string_view field) {
  std::istringstream file(procFile("/proc/" + std::to_string(pid) + "/status"));
  for (std::string line; std::getline(file, line);) {
    if (line.starts_with(field)) return std::stol(line.substr(field.size()));
  }
  return -1;
}

long wakeUps(pid_t pid) {
  long total = 0;
  std::error_code error;
  for (const auto& task :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
    std::istringstream file(procFile(task.path() / "status"));
    for (std::string line; std::getline(file, line);) {
      if (line.starts_with("voluntary_ctxt_switches:")) total += std::stol(line.substr(24));
    }
  }
  return total;
}

long pipeBytes(pid_t pid, int fd) {
  const int end = ::open(("/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd)).c_str(),
                         O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (end < 0) return -1;
  int bytes = -1;
  if (::ioctl(end, FIONREAD, &bytes) != 0) bytes = -1;
  ::close(end);
  return bytes;
}

bool settles(pid_t pid, std::chrono::milliseconds interval) {
  const auto ticks = [pid] {
    long total = cpuTicks(pid);
    for (pid_t child : childrenOf(pid)) total += cpuTicks(child);
    return total;
  };
  const long before = ticks();
  std::this_thread::sleep_for(interval);
  return ticks() == before;
}

std::string requestLine(const std::string& id, const std::string& text, const std::string& target) {
  return R"({"id":")" + id + R"(","text":")" + text + R"(","target":")" + target + "\"}\n";
}

std::string textReply(const std::string& id, const std::string& text) {
  return R"({"id":")" + id + R"(","text":")" + text + "\"}";
}

std::string errorReply(const std::string& id, const std::string& error) {
  return R"({"id":")" + id + R"(","error":")" + error + "\"}";
}

bool stopProcesses(const std::vector<pid_t>& pids, std::chrono::milliseconds timeout) {
  for (pid_t pid : pids) ::kill(pid, SIGSTOP);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  const auto stopped = [](pid_t pid) {
    const std::vector<std::string> fields = statFields(pid);
    return fields.empty() || fields[0] == "T" || fields[0] == "t" || fields[0] == "Z";
  };
  while (!std::all_of(pids.begin(), pids.end(), stopped)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    ::usleep(2000);
  }
  return true;
}

}  // namespace talvori::testing
