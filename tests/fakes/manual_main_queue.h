// A main queue for tests: jobs wait until the test runs them, on the test's thread. post may be
// called from any thread; running is for the test thread only.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <utility>

#include "base/main_queue.h"

namespace talvori::testing {

class ManualMainQueue : public MainQueue {
 public:
  void post(Job job) override {
    {
      std::lock_guard lock(mutex_);
      jobs_.push_back(std::move(job));
    }
    posted_.notify_all();
  }

  std::size_t pending() const {
    std::lock_guard lock(mutex_);
    return jobs_.size();
  }

  // Runs the oldest job; false when there was none.
  bool runOne() {
    Job job;
    {
      std::lock_guard lock(mutex_);
      if (jobs_.empty()) return false;
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    job();
    return true;
  }

  // Runs jobs, including those they post, until none is left; gives how many ran.
  std::size_t runAll() {
    std::size_t count = 0;
    while (runOne()) ++count;
    return count;
  }

  // Waits up to `timeout` for a job to be posted (from another thread), then runs one.
  bool waitAndRunOne(std::chrono::milliseconds timeout) {
    {
      std::unique_lock lock(mutex_);
      if (!posted_.wait_for(lock, timeout, [this] { return !jobs_.empty(); })) return false;
    }
    return runOne();
  }

  // Runs posted jobs until `done()` holds or `timeout` passes without it; gives done().
  template <typename Predicate>
  bool runUntil(Predicate done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return done();
      waitAndRunOne(left);
    }
    return true;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable posted_;
  std::deque<Job> jobs_;
};

}  // namespace talvori::testing
