#include "base/serial_worker.h"

#include <atomic>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/fakes/manual_main_queue.h"

namespace talvori {
namespace {

using namespace std::chrono_literals;

// Jobs run in order on one thread of the worker's own; stopping lets the running job finish,
// fails the waiting ones and later ones, each callback exactly once, and runs the end hook on the
// worker thread.
TEST(SerialWorkerTest, RunsInOrderAndFailsWhatWaitsWhenStopped) {
  testing::ManualMainQueue mainQueue;
  std::atomic<int> ends = 0;
  std::thread::id endThread;
  SerialWorker worker(mainQueue, {.end = [&] {
                        ++ends;
                        endThread = std::this_thread::get_id();
                      }});
  std::vector<std::string> results;
  std::vector<std::thread::id> jobThreads;
  const auto record = [&](SerialWorker::Result result) {
    results.push_back(result.value_or("(none)"));
  };
  std::promise<void> started;
  std::promise<void> release;
  worker.submit(
      [&] {
        jobThreads.push_back(std::this_thread::get_id());
        return SerialWorker::Result("first");
      },
      record);
  worker.submit(
      [&] {
        jobThreads.push_back(std::this_thread::get_id());
        started.set_value();
        release.get_future().wait();
        return SerialWorker::Result("second");
      },
      record);
  worker.submit([] { return SerialWorker::Result("never run"); }, record);
  started.get_future().wait();

  std::thread stopper([&] { worker.shutDown(); });
  std::this_thread::sleep_for(20ms);  // the stopper waits for the running job either way
  release.set_value();
  stopper.join();
  worker.submit([] { return SerialWorker::Result("after"); }, record);
  mainQueue.runAll();

  EXPECT_EQ(results, (std::vector<std::string>{"first", "second", "(none)", "(none)"}));
  ASSERT_EQ(jobThreads.size(), 2u);
  EXPECT_EQ(jobThreads[0], jobThreads[1]);
  EXPECT_NE(jobThreads[0], std::this_thread::get_id());
  EXPECT_EQ(ends, 1);
  EXPECT_EQ(endThread, jobThreads[0]);
  worker.shutDown();
  EXPECT_EQ(ends, 1);
}

// The idle hook runs once per quiet spell after a job, never before the first job.
TEST(SerialWorkerTest, IdleHookRunsOnceAfterEachBusySpell) {
  testing::ManualMainQueue mainQueue;
  std::atomic<int> idles = 0;
  SerialWorker worker(mainQueue, {.idle = [&] { ++idles; }, .idleAfter = 10ms});
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(idles, 0);

  for (int spell = 1; spell <= 2; ++spell) {
    bool done = false;
    worker.submit([] { return SerialWorker::Result("x"); }, [&](auto) { done = true; });
    ASSERT_TRUE(mainQueue.runUntil([&] { return done; }, 10s));
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (idles < spell && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(1ms);
    }
    std::this_thread::sleep_for(50ms);  // several idle times more: still once
    EXPECT_EQ(idles, spell);
  }
}

}  // namespace
}  // namespace talvori
