#include "platform/apertium/apertium_pipeline.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <utility>

extern char** environ;

namespace talvori {

namespace {

constexpr std::string_view kWblankTool = "apertium-wblank-mode";

// Owns one file descriptor.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(std::exchange(other.fd_, -1));
    return *this;
  }
  ~UniqueFd() { reset(); }

  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

// Moves a descriptor above the standard three, so that dup2 onto 0, 1 or 2 in a child never
// finds its source already there.
bool keepAboveStandard(UniqueFd& fd) {
  if (fd.get() > 2) return true;
  const int moved = ::fcntl(fd.get(), F_DUPFD_CLOEXEC, 3);
  if (moved < 0) return false;
  fd.reset(moved);
  return true;
}

bool makePipe(UniqueFd& readEnd, UniqueFd& writeEnd) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  readEnd.reset(fds[0]);
  writeEnd.reset(fds[1]);
  return keepAboveStandard(readEnd) && keepAboveStandard(writeEnd);
}

bool setNonBlocking(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

// The executable `name` names: itself when it holds a "/", else the first match on PATH (with
// /usr/bin, where the engine installs its programs, searched last).
std::optional<std::string> findProgram(std::string_view name) {
  if (name.empty()) return std::nullopt;
  if (name.find('/') != std::string_view::npos) {
    const std::string path(name);
    if (::access(path.c_str(), X_OK) == 0) return path;
    return std::nullopt;
  }
  const char* pathVariable = std::getenv("PATH");
  std::string directories = pathVariable ? pathVariable : "/usr/local/bin:/bin";
  directories += ":/usr/bin";
  std::size_t start = 0;
  while (start <= directories.size()) {
    std::size_t end = directories.find(':', start);
    if (end == std::string::npos) end = directories.size();
    // An empty entry means the current directory.
    const std::string directory = end > start ? directories.substr(start, end - start) : ".";
    const std::string candidate = directory + "/" + std::string(name);
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return std::nullopt;
}

// The environment the programs run in: the agent's, with every locale setting replaced by the
// UTF-8 C locale, which the C library always has. A locale the machine lacks (common over SSH and
// in containers) would otherwise make the engine's programs abort at start.
std::vector<std::string> childEnvironment() {
  std::vector<std::string> variables;
  for (char** entry = environ; entry && *entry; ++entry) {
    const std::string_view variable(*entry);
    if (variable.starts_with("LANG=") || variable.starts_with("LANGUAGE=") ||
        variable.starts_with("LC_")) {
      continue;
    }
    variables.emplace_back(variable);
  }
  variables.emplace_back("LC_ALL=C.UTF-8");
  return variables;
}

std::vector<char*> pointersTo(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  pointers.reserve(strings.size() + 1);
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Everything a child needs, prepared before fork so that the child itself only makes
// async-signal-safe calls.
struct SpawnPlan {
  std::string path;
  std::vector<std::string> arguments;
  int input = -1;
  int output = -1;
  int errors = -1;
  pid_t group = 0;  // 0: lead a new process group
};

[[noreturn]] void runChild(const SpawnPlan& plan, char* const* argv, char* const* envp,
                           pid_t parent, int descriptorLimit) {
  ::setpgid(0, plan.group);
  // Die with the thread that started us; if it is already gone, the signal was never armed.
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != parent) ::_exit(127);
  if (::dup2(plan.input, 0) < 0 || ::dup2(plan.output, 1) < 0 || ::dup2(plan.errors, 2) < 0) {
    ::_exit(127);
  }
  if (::close_range(3, ~0U, 0) != 0) {
    for (int fd = 3; fd < descriptorLimit; ++fd) ::close(fd);
  }
  struct sigaction defaultAction {};
  defaultAction.sa_handler = SIG_DFL;
  ::sigaction(SIGPIPE, &defaultAction, nullptr);
  sigset_t none;
  ::sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  ::execve(plan.path.c_str(), argv, envp);
  ::_exit(127);
}

int descriptorLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 65536;
  return static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 65536));
}

pid_t spawn(SpawnPlan& plan, std::vector<std::string>& environment) {
  std::vector<char*> argv = pointersTo(plan.arguments);
  std::vector<char*> envp = pointersTo(environment);
  const pid_t parent = ::getpid();
  const int limit = descriptorLimit();
  const pid_t child = ::fork();
  if (child == 0) runChild(plan, argv.data(), envp.data(), parent, limit);
  if (child > 0) ::setpgid(child, plan.group == 0 ? child : plan.group);
  return child;
}

void reap(pid_t child) {
  while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
  }
}

int millisecondsUntil(Deadline deadline) {
  const auto left = deadline - std::chrono::steady_clock::now();
  if (left <= Deadline::duration::zero()) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return static_cast<int>(std::min<long long>(ms, INT_MAX));
}

// Takes a SIGPIPE that a failed write left pending on this thread.
void discardBrokenPipeSignal() {
  sigset_t pipeSignal;
  ::sigemptyset(&pipeSignal);
  ::sigaddset(&pipeSignal, SIGPIPE);
  const timespec now{};
  while (::sigtimedwait(&pipeSignal, nullptr, &now) == SIGPIPE) {
  }
}

// Runs `arguments` with no input and gives its standard output when it exits with status 0
// before `deadline`.
std::optional<std::string> capture(std::vector<std::string> arguments, Deadline deadline) {
  const std::optional<std::string> path = findProgram(arguments.front());
  if (!path) return std::nullopt;
  UniqueFd devNull(::open("/dev/null", O_RDWR | O_CLOEXEC));
  UniqueFd readEnd, writeEnd;
  if (devNull.get() < 0 || !keepAboveStandard(devNull) || !makePipe(readEnd, writeEnd)) {
    return std::nullopt;
  }
  SpawnPlan plan{*path, std::move(arguments), devNull.get(), writeEnd.get(), devNull.get(), 0};
  std::vector<std::string> environment = childEnvironment();
  const pid_t child = spawn(plan, environment);
  writeEnd.reset();
  if (child < 0) return std::nullopt;
  std::string text;
  bool finished = false;
  while (!finished) {
    pollfd poller{readEnd.get(), POLLIN, 0};
    const int ready = ::poll(&poller, 1, millisecondsUntil(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    char buffer[4096];
    const ssize_t n = ::read(readEnd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      finished = n == 0;
      break;
    }
    text.append(buffer, static_cast<std::size_t>(n));
  }
  if (!finished) ::kill(child, SIGKILL);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (!finished || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return text;
}

bool isSeparator(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::optional<ProgramList> parseModeCommand(std::string_view command,
                                            std::string_view generatorOption) {
  while (!command.empty() && std::isspace(static_cast<unsigned char>(command.back()))) {
    command.remove_suffix(1);
  }
  ProgramList programs;
  std::vector<std::string> program;
  std::string word;
  bool inWord = false;
  bool quoted = false;
  const auto endWord = [&] {
    if (inWord) program.push_back(std::move(word));
    word.clear();
    inWord = false;
    quoted = false;
  };
  std::size_t i = 0;
  while (i < command.size()) {
    const char c = command[i];
    if (isSeparator(c)) {
      endWord();
      ++i;
    } else if (c == '|') {
      endWord();
      if (program.empty()) return std::nullopt;
      programs.push_back(std::move(program));
      program.clear();
      ++i;
    } else if (c == '\'') {
      const std::size_t close = command.find('\'', i + 1);
      if (close == std::string_view::npos) return std::nullopt;
      word.append(command.substr(i + 1, close - i - 1));
      inWord = quoted = true;
      i = close + 1;
    } else if (c == '"') {
      ++i;
      while (i < command.size() && command[i] != '"') {
        const char d = command[i];
        if (d == '$' || d == '`') return std::nullopt;
        if (d == '\\' && i + 1 < command.size() &&
            std::string_view("\\\"$`").find(command[i + 1]) != std::string_view::npos) {
          ++i;
        }
        word += command[i++];
      }
      if (i >= command.size()) return std::nullopt;
      inWord = quoted = true;
      ++i;
    } else if (c == '\\') {
      if (i + 1 >= command.size() || command[i + 1] == '\n') return std::nullopt;
      word += command[i + 1];
      inWord = true;
      i += 2;
    } else if (c == '$') {
      // Only the placeholders the apertium script fills, standing as words of their own.
      const bool alone =
          !inWord && i + 1 < command.size() && (command[i + 1] == '1' || command[i + 1] == '2') &&
          (i + 2 == command.size() || isSeparator(command[i + 2]) || command[i + 2] == '|');
      if (!alone) return std::nullopt;
      if (command[i + 1] == '1' && !generatorOption.empty()) {
        program.emplace_back(generatorOption);
      }
      i += 2;
    } else if (c == '>' && inWord && !quoted && word == "2") {
      // "2>/dev/null": the programs' errors go to /dev/null anyway.
      std::size_t target = i + 1;
      while (target < command.size() && isSeparator(command[target])) ++target;
      constexpr std::string_view kNull = "/dev/null";
      if (command.substr(target, kNull.size()) != kNull) return std::nullopt;
      const std::size_t after = target + kNull.size();
      if (after < command.size() && !isSeparator(command[after]) && command[after] != '|') {
        return std::nullopt;
      }
      word.clear();
      inWord = false;
      i = after;
    } else if (std::string_view(";&<>()`\n*?[]{}").find(c) != std::string_view::npos ||
               (!inWord && (c == '#' || c == '~'))) {
      return std::nullopt;
    } else {
      word += c;
      inWord = true;
      ++i;
    }
  }
  endWord();
  if (program.empty()) return std::nullopt;
  programs.push_back(std::move(program));
  return programs;
}

std::optional<ProgramList> loadModePrograms(const std::filesystem::path& modeFile,
                                            Deadline deadline) {
  constexpr std::string_view kHideUnknownMarks = "-n";
  if (const std::optional<std::string> rewritten =
          capture({std::string(kWblankTool), "-z", modeFile.string()}, deadline);
      rewritten && !rewritten->empty()) {
    return parseModeCommand(*rewritten, kHideUnknownMarks);
  }
  std::ifstream file(modeFile);
  if (!file) return std::nullopt;
  std::stringstream contents;
  contents << file.rdbuf();
  std::optional<ProgramList> programs = parseModeCommand(contents.str(), kHideUnknownMarks);
  if (programs) {
    for (std::vector<std::string>& program : *programs) program.insert(program.begin() + 1, "-z");
  }
  return programs;
}

void blockBrokenPipeSignal() {
  sigset_t pipeSignal;
  ::sigemptyset(&pipeSignal);
  ::sigaddset(&pipeSignal, SIGPIPE);
  ::pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
}

std::unique_ptr<ApertiumPipeline> ApertiumPipeline::start(const ProgramList& programs) {
  if (programs.empty()) return nullptr;
  std::vector<std::string> paths;
  for (const std::vector<std::string>& program : programs) {
    std::optional<std::string> path = findProgram(program.front());
    if (!path) return nullptr;
    paths.push_back(std::move(*path));
  }
  UniqueFd devNull(::open("/dev/null", O_RDWR | O_CLOEXEC));
  if (devNull.get() < 0 || !keepAboveStandard(devNull)) return nullptr;
  UniqueFd firstInput, input;
  if (!makePipe(firstInput, input)) return nullptr;

  std::unique_ptr<ApertiumPipeline> pipeline(new ApertiumPipeline());
  std::vector<std::string> environment = childEnvironment();
  UniqueFd nextInput = std::move(firstInput);
  for (std::size_t i = 0; i < programs.size(); ++i) {
    UniqueFd readEnd, writeEnd;
    if (!makePipe(readEnd, writeEnd)) return nullptr;  // the destructor ends those started
    SpawnPlan plan{paths[i],       programs[i],   nextInput.get(),
                   writeEnd.get(), devNull.get(), pipeline->group_};
    const pid_t child = spawn(plan, environment);
    if (child < 0) return nullptr;
    pipeline->children_.push_back(child);
    if (pipeline->group_ == 0) pipeline->group_ = child;
    nextInput = std::move(readEnd);
  }
  if (!setNonBlocking(input.get()) || !setNonBlocking(nextInput.get())) return nullptr;
  pipeline->input_ = input.release();
  pipeline->output_ = nextInput.release();
  return pipeline;
}

ApertiumPipeline::~ApertiumPipeline() { stop(); }

bool ApertiumPipeline::alive() {
  bool all = true;
  for (pid_t& child : children_) {
    if (child > 0 && ::waitpid(child, nullptr, WNOHANG) == child) {
      child = 0;  // reaped: never signal or wait for that number again
      all = false;
    }
  }
  return all && !children_.empty();
}

void ApertiumPipeline::stop() {
  if (input_ >= 0) ::close(input_);
  if (output_ >= 0) ::close(output_);
  input_ = output_ = -1;
  if (group_ > 0) ::kill(-group_, SIGKILL);
  for (pid_t child : children_) {
    if (child <= 0) continue;
    ::kill(child, SIGKILL);  // in case it had not joined the group yet
    reap(child);
  }
  children_.clear();
}

std::optional<std::vector<std::string>> ApertiumPipeline::exchange(
    const std::vector<std::string>& frames, Deadline deadline, std::size_t maximumAnswer) {
  std::string pending;
  for (const std::string& frame : frames) {
    pending += frame;
    pending += '\0';
  }
  std::size_t written = 0;
  std::size_t framesWritten = 0;  // whole frames, NUL included, sent so far
  std::size_t nextFrameEnd = frames.empty() ? 0 : frames.front().size() + 1;
  std::vector<std::string> answers(frames.empty() ? 0 : 1);
  std::size_t received = 0;
  while (received < frames.size()) {
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    pollfd pollers[2] = {{output_, POLLIN, 0}, {input_, 0, 0}};
    if (written < pending.size()) pollers[1].events = POLLOUT;
    const int ready = ::poll(pollers, 2, millisecondsUntil(deadline));
    if (ready < 0 && errno != EINTR) return std::nullopt;
    if (ready <= 0) continue;
    if (pollers[1].revents != 0 && written < pending.size()) {
      const ssize_t n = ::write(input_, pending.data() + written, pending.size() - written);
      if (n > 0) {
        written += static_cast<std::size_t>(n);
        while (framesWritten < frames.size() && written >= nextFrameEnd) {
          ++framesWritten;
          if (framesWritten < frames.size()) nextFrameEnd += frames[framesWritten].size() + 1;
        }
      } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        discardBrokenPipeSignal();
        return std::nullopt;
      }
    }
    if (pollers[0].revents == 0) continue;
    char buffer[65536];
    const ssize_t n = ::read(output_, buffer, sizeof buffer);
    if (n == 0) return std::nullopt;
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      return std::nullopt;
    }
    std::size_t total = 0;
    for (const std::string& answer : answers) total += answer.size();
    if (total + static_cast<std::size_t>(n) > maximumAnswer) return std::nullopt;
    for (ssize_t i = 0; i < n; ++i) {
      if (buffer[i] != '\0') {
        answers.back() += buffer[i];
        continue;
      }
      // An answer's NUL can only follow its frame's, and nothing may follow the last answer.
      if (received >= framesWritten || received + 1 > frames.size()) return std::nullopt;
      ++received;
      if (received == frames.size()) {
        if (i + 1 != n) return std::nullopt;
        break;
      }
      answers.emplace_back();
    }
  }
  return answers;
}

}  // namespace talvori
