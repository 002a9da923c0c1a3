#include "base/subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <thread>
#include <utility>

extern char** environ;

namespace talvori {

namespace {

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

// The executable `name` names: itself when it holds a "/", else the first match on PATH, with
// /usr/bin searched last so that a PATH without it still finds the system's programs.
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

std::vector<std::string> ownEnvironment() {
  std::vector<std::string> variables;
  for (char** entry = environ; entry && *entry; ++entry) variables.emplace_back(*entry);
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
  const char* path = nullptr;
  char* const* argv = nullptr;
  char* const* envp = nullptr;
  const char* directory = nullptr;  // null: stay where the agent is
  int input = -1;
  int output = -1;
  int errors = -1;
  int report = -1;  // where the child writes errno when it cannot run the program
  pid_t group = 0;  // 0: lead a new process group
  pid_t parent = 0;
  int descriptorLimit = 0;
};

[[noreturn]] void failChild(int report) {
  const int error = errno;
  [[maybe_unused]] const ssize_t n = ::write(report, &error, sizeof error);
  ::_exit(127);
}

[[noreturn]] void runChild(const SpawnPlan& plan) {
  ::setpgid(0, plan.group);
  // Die with the thread that started us; if it is already gone, the signal was never armed.
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != plan.parent) ::_exit(127);
  if (plan.directory != nullptr && ::chdir(plan.directory) != 0) failChild(plan.report);
  if (::dup2(plan.input, 0) < 0 || ::dup2(plan.output, 1) < 0 || ::dup2(plan.errors, 2) < 0) {
    failChild(plan.report);
  }
  // Nothing above 2 survives the exec; the report pipe stays open until then.
  if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
    for (int fd = 3; fd < plan.descriptorLimit; ++fd) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  struct sigaction defaultAction {};
  defaultAction.sa_handler = SIG_DFL;
  ::sigaction(SIGPIPE, &defaultAction, nullptr);
  sigset_t none;
  ::sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  ::execve(plan.path, plan.argv, plan.envp);
  failChild(plan.report);
}

int descriptorLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 65536;
  return static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 65536));
}

int millisecondsUntil(Deadline deadline) {
  const auto left = deadline - std::chrono::steady_clock::now();
  if (left <= Deadline::duration::zero()) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return static_cast<int>(std::min<long long>(ms, INT_MAX));
}

void blockBrokenPipeSignal() {
  sigset_t pipeSignal;
  ::sigemptyset(&pipeSignal);
  ::sigaddset(&pipeSignal, SIGPIPE);
  ::pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
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

// Sleeps a little longer each time it is called, and never past `deadline`: for waiting on
// children, which give no descriptor to wait on.
class Backoff {
 public:
  explicit Backoff(Deadline deadline) : deadline_(deadline) {}
  // False once the deadline has passed.
  bool pause() {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline_) return false;
    std::this_thread::sleep_for(std::min<Deadline::duration>(step_, deadline_ - now));
    step_ = std::min(step_ * 2, std::chrono::microseconds(50000));
    return true;
  }

 private:
  const Deadline deadline_;
  std::chrono::microseconds step_{500};
};

int shellStatus(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 255;
}

}  // namespace

std::unique_ptr<Subprocess> Subprocess::start(const std::vector<Command>& programs,
                                              const SubprocessOptions& options) {
  if (programs.empty()) return nullptr;
  std::vector<std::string> paths;
  for (const Command& program : programs) {
    std::optional<std::string> path = program.empty() ? std::nullopt : findProgram(program.front());
    if (!path) return nullptr;
    paths.push_back(std::move(*path));
  }
  blockBrokenPipeSignal();
  UniqueFd devNull(::open("/dev/null", O_RDWR | O_CLOEXEC));
  if (devNull.get() < 0 || !keepAboveStandard(devNull)) return nullptr;
  UniqueFd firstInput, input;
  if (!makePipe(firstInput, input)) return nullptr;

  std::vector<std::string> environment = options.environment.value_or(ownEnvironment());
  const std::vector<char*> envp = pointersTo(environment);
  const std::string directory = options.workingDirectory.string();
  std::unique_ptr<Subprocess> process(new Subprocess(options.stopGrace));
  // Programs already started when another cannot be have done nothing yet: they end at once.
  const auto abandon = [&process] {
    process->end(std::chrono::milliseconds::zero());
    return nullptr;
  };
  std::vector<UniqueFd> reports;
  UniqueFd nextInput = std::move(firstInput);
  for (std::size_t i = 0; i < programs.size(); ++i) {
    UniqueFd readEnd, writeEnd, reportRead, reportWrite;
    if (!makePipe(readEnd, writeEnd) || !makePipe(reportRead, reportWrite)) {
      return abandon();
    }
    Command arguments = programs[i];
    const std::vector<char*> argv = pointersTo(arguments);
    const SpawnPlan plan{.path = paths[i].c_str(),
                         .argv = argv.data(),
                         .envp = envp.data(),
                         .directory = directory.empty() ? nullptr : directory.c_str(),
                         .input = nextInput.get(),
                         .output = writeEnd.get(),
                         .errors = devNull.get(),
                         .report = reportWrite.get(),
                         .group = process->group_,
                         .parent = ::getpid(),
                         .descriptorLimit = descriptorLimit()};
    const pid_t child = ::fork();
    if (child == 0) runChild(plan);
    if (child < 0) return abandon();
    ::setpgid(child, process->group_ == 0 ? child : process->group_);
    process->children_.push_back(Child{child, std::nullopt});
    if (process->group_ == 0) process->group_ = child;
    reports.push_back(std::move(reportRead));
    nextInput = std::move(readEnd);
  }
  // Each report pipe closes unread when its program has started, and carries errno when it
  // could not; the programs start side by side, and are only checked now.
  for (UniqueFd& report : reports) {
    int error = 0;
    ssize_t n;
    while ((n = ::read(report.get(), &error, sizeof error)) < 0 && errno == EINTR) {
    }
    if (n != 0) return abandon();
  }
  if (!setNonBlocking(input.get()) || !setNonBlocking(nextInput.get())) return abandon();
  process->input_ = input.release();
  process->output_ = nextInput.release();
  return process;
}

Subprocess::~Subprocess() { stop(); }

bool Subprocess::reapEnded() {
  bool all = true;
  for (Child& child : children_) {
    if (child.status) continue;
    int status = 0;
    if (::waitpid(child.pid, &status, WNOHANG) == child.pid) {
      child.status = status;  // reaped: never signal or wait for that number again
    } else {
      all = false;
    }
  }
  return all;
}

bool Subprocess::alive() {
  if (stopped_ || children_.empty()) return false;
  reapEnded();
  return std::none_of(children_.begin(), children_.end(),
                      [](const Child& child) { return child.status.has_value(); });
}

Transfer Subprocess::transfer(std::string_view data, std::span<char> buffer, Deadline deadline) {
  Transfer moved;
  const bool writing = !data.empty();
  const bool reading = !buffer.empty();
  if ((!writing && !reading) || (writing && input_ < 0) || (reading && output_ < 0)) {
    moved.status = IoStatus::failed;
    return moved;
  }
  while (true) {
    pollfd pollers[2] = {{reading ? output_ : -1, POLLIN, 0}, {writing ? input_ : -1, POLLOUT, 0}};
    const int ready = ::poll(pollers, 2, millisecondsUntil(deadline));
    if (ready < 0 && errno != EINTR) {
      moved.status = IoStatus::failed;
      return moved;
    }
    if (ready <= 0) {
      if (ready == 0 && std::chrono::steady_clock::now() >= deadline) {
        moved.status = IoStatus::timedOut;
        return moved;
      }
      continue;
    }
    if (pollers[1].revents != 0) {
      const ssize_t n = ::write(input_, data.data(), data.size());
      if (n > 0) {
        moved.written = static_cast<std::size_t>(n);
      } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        const int error = errno;
        discardBrokenPipeSignal();
        moved.status = error == EPIPE ? IoStatus::closed : IoStatus::failed;
        return moved;
      }
    }
    if (pollers[0].revents != 0) {
      const ssize_t n = ::read(output_, buffer.data(), buffer.size());
      if (n > 0) {
        moved.read = static_cast<std::size_t>(n);
      } else if (n == 0) {
        moved.status = IoStatus::closed;
        return moved;
      } else if (errno != EAGAIN && errno != EINTR) {
        moved.status = IoStatus::failed;
        return moved;
      }
    }
    if (moved.written > 0 || moved.read > 0) return moved;
  }
}

IoStatus Subprocess::write(std::string_view data, Deadline deadline) {
  while (!data.empty()) {
    const Transfer moved = transfer(data, {}, deadline);
    if (moved.status != IoStatus::ok) return moved.status;
    data.remove_prefix(moved.written);
  }
  return IoStatus::ok;
}

Transfer Subprocess::read(std::span<char> buffer, Deadline deadline) {
  return transfer({}, buffer, deadline);
}

IoStatus Subprocess::readExactly(std::span<char> buffer, Deadline deadline) {
  while (!buffer.empty()) {
    const Transfer moved = transfer({}, buffer, deadline);
    if (moved.status != IoStatus::ok) return moved.status;
    buffer = buffer.subspan(moved.read);
  }
  return IoStatus::ok;
}

void Subprocess::closeInput() {
  if (input_ >= 0) ::close(input_);
  input_ = -1;
}

std::optional<int> Subprocess::wait(Deadline deadline) {
  if (stopped_ || children_.empty()) return std::nullopt;
  Backoff backoff(deadline);
  while (!reapEnded()) {
    if (!backoff.pause()) return std::nullopt;
  }
  return shellStatus(*children_.back().status);
}

void Subprocess::stop() { end(stopGrace_); }

void Subprocess::end(std::chrono::milliseconds grace) {
  closeInput();
  if (output_ >= 0) ::close(output_);
  output_ = -1;
  stopped_ = true;
  // Signals go only to children not yet reaped: while one is unreaped, neither its process id
  // nor the group's can have been given to another process.
  const auto signalAll = [this](int signal) {
    bool any = false;
    for (const Child& child : children_) {
      if (child.status) continue;
      ::kill(child.pid, signal);  // in case it has not joined the group
      any = true;
    }
    if (any && group_ > 0) ::kill(-group_, signal);
  };
  if (grace > std::chrono::milliseconds::zero() && !reapEnded()) {
    signalAll(SIGTERM);
    Backoff backoff(std::chrono::steady_clock::now() + grace);
    while (!reapEnded() && backoff.pause()) {
    }
  }
  signalAll(SIGKILL);
  for (Child& child : children_) {
    if (child.status) continue;
    int status = 0;
    while (::waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
    }
    child.status = status;
  }
}

}  // namespace talvori
