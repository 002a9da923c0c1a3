// A worker thread that runs jobs one at a time in the order they were submitted, and posts each
// job's result to the main queue for the job's callback.
//
// submit(), shutDown() and the destructor are called on the main thread; jobs and the idle and
// end hooks run on the worker thread, which is started by the first submit. What the jobs share
// may therefore be touched by them alone, without a lock. Every submitted callback is posted
// exactly once: with the job's result, or with none when the worker stops before the job runs.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "base/main_queue.h"

namespace talvori {

class SerialWorker {
 public:
  using Result = std::optional<std::string>;
  using Done = std::function<void(Result)>;

  struct Hooks {
    // Run once the worker has had nothing to do for `idleAfter` since its last job; again only
    // after another job.
    std::function<void()> idle{};
    std::optional<std::chrono::milliseconds> idleAfter{};
    // Run as the worker thread ends.
    std::function<void()> end{};
  };

  SerialWorker(MainQueue& mainQueue, Hooks hooks);
  ~SerialWorker() { shutDown(); }

  SerialWorker(const SerialWorker&) = delete;
  SerialWorker& operator=(const SerialWorker&) = delete;

  void submit(std::function<Result()> job, Done done);

  // Lets the job in progress finish, fails those waiting, and ends the thread. Later submissions
  // fail at once.
  void shutDown();

 private:
  struct Job {
    std::function<Result()> run;
    Done done;
  };

  void run();
  void post(Done done, Result result);

  MainQueue& mainQueue_;
  const Hooks hooks_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Job> jobs_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace talvori
