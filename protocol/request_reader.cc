#include "protocol/request_reader.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>

#include "base/main_queue.h"

namespace talvori {

LineReader::LineReader(int fd, std::size_t bufferSize) : fd_(fd), buffer_(bufferSize) {}

std::optional<std::string> LineReader::readLine() {
  std::string line;
  bool haveBytes = false;
  for (;;) {
    if (begin_ < end_) {
      const char* start = buffer_.data() + begin_;
      const auto* newline = static_cast<const char*>(std::memchr(start, '\n', end_ - begin_));
      if (newline != nullptr) {
        line.append(start, newline);
        begin_ += static_cast<std::size_t>(newline - start) + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return line;
      }
      line.append(start, end_ - begin_);
      haveBytes = true;
      begin_ = end_ = 0;
    }
    if (ended_) break;
    const ssize_t count = ::read(fd_, buffer_.data(), buffer_.size());
    if (count < 0 && errno == EINTR) continue;
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // A descriptor left non-blocking by the host: wait for data (or the end) and read again.
      pollfd poller{fd_, POLLIN, 0};
      if (::poll(&poller, 1, -1) >= 0 || errno == EINTR) continue;
    }
    if (count <= 0) {
      ended_ = true;
      break;
    }
    begin_ = 0;
    end_ = static_cast<std::size_t>(count);
  }
  // End of input: a last line without a line feed still counts.
  if (!haveBytes) return std::nullopt;
  return line;
}

namespace {

// Requests handed over to the main thread and not yet taken, counted in bytes. The reader adds,
// the main thread's hand-over jobs subtract; both under the mutex.
class InFlight {
 public:
  explicit InFlight(ReaderFlow flow) : flow_(std::move(flow)) {}

  // Waits until `cost` more fits (or nothing is in flight), then counts it. Gives false when the
  // input has been closed while the main thread is stuck: the end job would never get its turn.
  bool acquire(std::size_t cost, int fd) {
    std::unique_lock lock(mutex_);
    Progress progress{taken_, Clock::now()};
    while (inFlight_ > 0 && inFlight_ + cost > flow_.maximumInFlight) {
      if (!flow_.endNow) {
        changed_.wait(lock);
        continue;
      }
      changed_.wait_for(lock, tick());
      if (stuck(progress) && inputClosed(fd)) return false;
    }
    inFlight_ += cost;
    return true;
  }

  void release(std::size_t cost) {
    {
      std::lock_guard lock(mutex_);
      inFlight_ -= cost;
      ++taken_;
    }
    changed_.notify_one();
  }

  void markEnded() {
    {
      std::lock_guard lock(mutex_);
      ended_ = true;
    }
    changed_.notify_one();
  }

  // After the end job was posted: waits until it has run, or gives false as soon as the main
  // thread is found stuck, when it never would.
  bool awaitEnd() {
    std::unique_lock lock(mutex_);
    Progress progress{taken_, Clock::now()};
    while (!ended_) {
      changed_.wait_for(lock, tick());
      if (!ended_ && stuck(progress)) return false;
    }
    return true;
  }

 private:
  using Clock = std::chrono::steady_clock;

  // The hand-over jobs run by a moment, and that moment.
  struct Progress {
    std::uint64_t taken;
    Clock::time_point at;
  };

  // How often a waiting reader looks whether the main thread is stuck.
  std::chrono::milliseconds tick() const {
    return std::clamp<std::chrono::milliseconds>(flow_.endPatience, std::chrono::milliseconds(1),
                                                 std::chrono::milliseconds(100));
  }

  // Whether the main thread is stuck: in a reply write, or running no hand-over job for the end's
  // patience since `progress`, which moves on with every job run. Under the mutex.
  bool stuck(Progress& progress) const {
    const Clock::time_point now = Clock::now();
    if (taken_ != progress.taken) progress = {taken_, now};
    if (flow_.outputStalled && flow_.outputStalled()) return true;
    return now - progress.at >= flow_.endPatience;
  }

  // Whether the writer of the input has closed its end (the data already in it may be unread).
  static bool inputClosed(int fd) {
    pollfd poller{fd, POLLIN, 0};
    return ::poll(&poller, 1, 0) > 0 && (poller.revents & (POLLHUP | POLLERR)) != 0;
  }

  const ReaderFlow flow_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t inFlight_ = 0;
  std::uint64_t taken_ = 0;  // hand-over jobs run so far
  bool ended_ = false;
};

// What a request costs while in flight: its strings and an allowance for the job around them.
std::size_t costOf(const Request& request) { return request.id.size() + request.text.size() + 256; }

}  // namespace

void runRequestReader(int fd, MainQueue& mainQueue, std::function<void(Request)> handOver,
                      std::function<void()> atEnd, ReaderFlow flow) {
  // Jobs may run after this function has returned, so they share ownership of what they use.
  auto handler = std::make_shared<const std::function<void(Request)>>(std::move(handOver));
  auto inFlight = std::make_shared<InFlight>(flow);
  LineReader reader(fd);
  while (auto line = reader.readLine()) {
    if (line->empty()) continue;
    auto request = decodeRequest(*line);
    if (!request) continue;
    line.reset();  // a long line need not be held while the reader waits
    const std::size_t cost = costOf(*request);
    if (!inFlight->acquire(cost, fd)) {
      flow.endNow();
      return;
    }
    mainQueue.post([handler, inFlight, cost, request = std::move(*request)]() mutable {
      inFlight->release(cost);
      (*handler)(std::move(request));
    });
  }
  if (!flow.endNow) {
    mainQueue.post(std::move(atEnd));
    return;
  }
  mainQueue.post([inFlight, atEnd = std::move(atEnd)] {
    inFlight->markEnded();
    atEnd();
  });
  if (!inFlight->awaitEnd()) flow.endNow();
}

}  // namespace talvori
