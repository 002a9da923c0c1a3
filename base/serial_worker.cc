#include "base/serial_worker.h"

#include <utility>

namespace talvori {

SerialWorker::SerialWorker(MainQueue& mainQueue, Hooks hooks)
    : mainQueue_(mainQueue), hooks_(std::move(hooks)) {}

void SerialWorker::post(Done done, Result result) {
  mainQueue_.post(
      [done = std::move(done), result = std::move(result)]() mutable { done(std::move(result)); });
}

void SerialWorker::submit(std::function<Result()> job, Done done) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) {
      post(std::move(done), std::nullopt);
      return;
    }
    jobs_.push_back(Job{std::move(job), std::move(done)});
    if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
  }
  wake_.notify_one();
}

void SerialWorker::shutDown() {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  for (Job& job : jobs_) post(std::move(job.done), std::nullopt);
  jobs_.clear();
}

void SerialWorker::run() {
  std::unique_lock lock(mutex_);
  const auto ready = [this] { return stopping_ || !jobs_.empty(); };
  bool busySinceIdle = false;
  while (true) {
    if (!busySinceIdle || !hooks_.idleAfter) {
      wake_.wait(lock, ready);
    } else if (!wake_.wait_for(lock, *hooks_.idleAfter, ready)) {
      busySinceIdle = false;
      lock.unlock();
      if (hooks_.idle) hooks_.idle();
      lock.lock();
      continue;
    }
    if (stopping_) break;
    Job job = std::move(jobs_.front());
    jobs_.pop_front();
    lock.unlock();
    Result result = job.run();
    post(std::move(job.done), std::move(result));
    busySinceIdle = true;
    lock.lock();
  }
  lock.unlock();
  if (hooks_.end) hooks_.end();
}

}  // namespace talvori
