// The main queue runs jobs on the main thread, one at a time, in the order they were posted.
//
// post may be called from any thread and never blocks for long; the job runs later, after the
// job now running has returned, never inside post itself. Posting cannot fail.
#pragma once

#include <functional>

namespace talvori {

class MainQueue {
 public:
  using Job = std::function<void()>;

  virtual ~MainQueue() = default;
  virtual void post(Job job) = 0;
};

}  // namespace talvori
