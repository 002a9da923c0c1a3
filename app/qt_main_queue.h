// QtMainQueue: posts jobs to the Qt application's main thread.
#pragma once

#include "queue/main_queue.h"

namespace talvori {

// Posts each job as a queued call on the application object, so it runs on the main thread in
// the event loop. Qt delivers posted events of equal priority in posting order, so jobs run one
// at a time in the order posted, from whatever thread. Holds no state; the application object
// must exist when post is called.
class QtMainQueue final : public MainQueue {
 public:
  void post(Job job) override;
};

}  // namespace talvori
