// QtMainQueue: runs posted jobs on the Qt application's main thread.
#pragma once

#include <cstddef>
#include <deque>
#include <mutex>

#include "base/main_queue.h"

namespace talvori {

// Jobs wait in a list guarded by a mutex; the first job posted to an empty list also posts one
// queued call to the application object, which then runs the jobs that are waiting, one at a
// time in posting order, on the main thread. A burst of jobs thus costs one event-loop turn, not
// one each. Jobs posted while a turn runs wait for the next turn, so window-system events still
// get their turn in between. post may be called from any thread; the application object must
// exist by then. There is one queue per process, never destroyed.
class QtMainQueue final : public MainQueue {
 public:
  static QtMainQueue& instance();

  void post(Job job) override;

 private:
  QtMainQueue() = default;
  void runWaitingJobs();

  std::mutex mutex_;
  std::deque<Job> jobs_;
  bool scheduled_ = false;  // a turn has been posted and has not yet emptied the list
};

}  // namespace talvori
