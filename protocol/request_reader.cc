#include "protocol/request_reader.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
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
  // wait ended because the main thread is stuck and the input has been closed.
  bool acquire(std::size_t cost, int fd) {
    std::unique_lock lock(mutex_);
    while (inFlight_ > 0 && inFlight_ + cost > flow_.maximumInFlight) {
      if (!flow_.outputStalled) {
        taken_.wait(lock);
        continue;
      }
      taken_.wait_for(lock, kPatience);
      if (flow_.outputStalled() && inputClosed(fd)) return false;
    }
    inFlight_ += cost;
    return true;
  }

  void release(std::size_t cost) {
    {
      std::lock_guard lock(mutex_);
      inFlight_ -= cost;
    }
    taken_.notify_one();
  }

  void markEnded() {
    {
      std::lock_guard lock(mutex_);
      ended_ = true;
    }
    taken_.notify_one();
  }

  // After the end job was posted: waits until it has run, or gives false as soon as the main
  // thread is found stuck, when it never would.
  bool awaitEnd() {
    std::unique_lock lock(mutex_);
    while (!ended_) {
      taken_.wait_for(lock, kPatience);
      if (!ended_ && flow_.outputStalled()) return false;
    }
    return true;
  }

 private:
  // How often a waiting reader looks whether the main thread is stuck.
  static constexpr std::chrono::milliseconds kPatience{100};

  // Whether the writer of the input has closed its end (the data already in it may be unread).
  static bool inputClosed(int fd) {
    pollfd poller{fd, POLLIN, 0};
    return ::poll(&poller, 1, 0) > 0 && (poller.revents & (POLLHUP | POLLERR)) != 0;
  }

  const ReaderFlow flow_;
  std::mutex mutex_;
  std::condition_variable taken_;
  std::size_t inFlight_ = 0;
  bool ended_ = false;
};

// What a request costs while in flight: its strings and an allowance for the job around them.
std::size_t costOf(const Request& request) {
  return request.id.size() + request.text.size() + 256;
}

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
      if (flow.endNow) flow.endNow();
      return;
    }
    mainQueue.post([handler, inFlight, cost, request = std::move(*request)]() mutable {
      inFlight->release(cost);
      (*handler)(std::move(request));
    });
  }
  if (!flow.outputStalled) {
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
