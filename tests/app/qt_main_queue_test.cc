// The Qt main queue: posting order across event-loop turns and threads.
#include "app/qt_main_queue.h"

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QMetaObject>
#include <gtest/gtest.h>

#include "tests/support/qt_application.h"

namespace talvori {
namespace {

using namespace std::chrono_literals;

class QtMainQueueTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::ensureQtApplication(); }
  QtMainQueue& queue = QtMainQueue::instance();
};

// Jobs run in posting order. One posted while a batch runs waits for the next turn, so that
// events queued in the meantime (window-system work) run before it.
TEST_F(QtMainQueueTest, JobsPostedDuringABatchRunInTheNextTurn) {
  std::vector<std::string> ran;
  queue.post([&] {
    ran.push_back("a");
    queue.post([&] { ran.push_back("c"); });
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [&] { ran.push_back("event"); }, Qt::QueuedConnection);
  });
  queue.post([&] { ran.push_back("b"); });
  EXPECT_TRUE(ran.empty()) << "nothing runs inside post";
  ASSERT_TRUE(testing::runEventsUntil([&] { return ran.size() == 4; }, 5s));
  EXPECT_EQ(ran, (std::vector<std::string>{"a", "b", "event", "c"}));
}

// Jobs from another thread arrive in the order that thread posted them, interleaved with the
// main thread's own, and every one runs on the main thread.
TEST_F(QtMainQueueTest, PostsFromAnotherThreadKeepTheirOrder) {
  constexpr int kJobs = 20000;
  std::vector<int> fromThread;
  int fromMain = 0;
  std::atomic<bool> offMainThread = false;
  const auto mainThread = std::this_thread::get_id();
  std::thread poster([&] {
    for (int i = 0; i < kJobs; ++i) {
      queue.post([&, i] {
        if (std::this_thread::get_id() != mainThread) offMainThread = true;
        fromThread.push_back(i);
      });
    }
  });
  for (int i = 0; i < 100; ++i) {
    queue.post([&] { ++fromMain; });
    QCoreApplication::processEvents();
  }
  poster.join();
  ASSERT_TRUE(
      testing::runEventsUntil([&] { return fromThread.size() == kJobs && fromMain == 100; }, 30s));
  EXPECT_FALSE(offMainThread);
  for (int i = 0; i < kJobs; ++i) ASSERT_EQ(fromThread[i], i);
}

}  // namespace
}  // namespace talvori
