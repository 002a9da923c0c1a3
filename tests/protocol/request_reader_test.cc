// The line reader and the request reader over real descriptors.
#include "protocol/request_reader.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/fakes/manual_main_queue.h"

namespace talvori {
namespace {

// A pipe whose write end is fed `input` from a thread, then closed.
class Feeder {
 public:
  explicit Feeder(std::string input) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    readFd = fds[0];
    writer_ = std::thread([fd = fds[1], input = std::move(input)] {
      std::size_t done = 0;
      while (done < input.size()) {
        const ssize_t n =
            write(fd, input.data() + done, std::min<std::size_t>(7, input.size() - done));
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
      }
      close(fd);
    });
  }
  ~Feeder() {
    writer_.join();
    close(readFd);
  }
  int readFd;

 private:
  std::thread writer_;
};

std::vector<std::string> readAll(const std::string& input, std::size_t bufferSize) {
  Feeder feeder(input);
  LineReader reader(feeder.readFd, bufferSize);
  std::vector<std::string> lines;
  while (auto line = reader.readLine()) lines.push_back(*line);
  return lines;
}

TEST(LineReader, SplitsLinesWhateverTheBufferBoundaries) {
  const std::string input = "one\r\n\ntwo  \r\n\r\r\n  three\rx\nlast";
  const std::vector<std::string> expected = {"one", "", "two  ", "\r", "  three\rx", "last"};
  for (std::size_t size : {1, 2, 3, 5, 64 * 1024}) {
    EXPECT_EQ(readAll(input, size), expected) << "buffer " << size;
  }
  EXPECT_EQ(readAll("", 16), std::vector<std::string>{});
  EXPECT_EQ(readAll("\n", 16), std::vector<std::string>{""});
  EXPECT_EQ(readAll("a\n", 16), std::vector<std::string>{"a"});
}

// Sequences cut by a buffer boundary, and bytes that are not UTF-8, come back as they were read.
TEST(LineReader, KeepsEveryByteAcrossBufferBoundaries) {
  const std::string input = "a\xE2\x82\xACz\xFF\xC3\n\xF0\x9F\x98\n";
  const std::vector<std::string> expected = {"a\xE2\x82\xACz\xFF\xC3", "\xF0\x9F\x98"};
  for (std::size_t size : {1, 2, 4, 1024}) EXPECT_EQ(readAll(input, size), expected);
}

TEST(LineReader, AReadErrorEndsInput) {
  LineReader reader(-1);
  EXPECT_FALSE(reader.readLine().has_value());
}

TEST(RequestReader, PostsDecodedRequestsInOrderThenTheEnd) {
  const std::string input =
      "{\"id\":\"1\",\"text\":\"a\",\"target\":\"en\"}\r\n"
      "not json\n"
      "\n"
      "   \n"
      "{\"id\":2,\"text\":\"a\",\"target\":\"en\"}\n"
      "{\"id\":\"3\",\"text\":\"b\xFF\",\"target\":\"auto\"}\n"
      "{\"id\":\"4\",\"text\":\"c\",\"target\":\"zh-Hans\"}";
  Feeder feeder(input);
  testing::ManualMainQueue queue;
  std::vector<std::string> seen;
  runRequestReader(
      feeder.readFd, queue,
      [&](Request r) {
        seen.push_back(r.id + ":" + r.text + ":" + (r.target == Target::automatic ? "auto" : "?"));
      },
      [&] { seen.push_back("end"); });
  EXPECT_TRUE(seen.empty()) << "nothing runs before the main queue does";
  EXPECT_EQ(queue.runAll(), 4u);
  EXPECT_EQ(seen, (std::vector<std::string>{"1:a:?", "3:b\xEF\xBF\xBD:auto", "4:c:?", "end"}));
}

// As in the agent: the reader runs on a thread of its own and posts while the main thread runs
// the jobs already posted.
TEST(RequestReader, PostsFromItsOwnThreadWhileTheMainThreadRuns) {
  std::string input;
  for (int i = 0; i < 2000; ++i) {
    input += "{\"id\":\"" + std::to_string(i) + "\",\"text\":\"t\",\"target\":\"en\"}\n";
  }
  Feeder feeder(input);
  testing::ManualMainQueue queue;
  std::vector<std::string> ids;
  bool ended = false;
  std::thread reader([&] {
    runRequestReader(
        feeder.readFd, queue, [&](Request r) { ids.push_back(r.id); }, [&] { ended = true; });
  });
  EXPECT_TRUE(queue.runUntil([&] { return ended; }, std::chrono::seconds(60)));
  reader.join();
  ASSERT_EQ(ids.size(), 2000u);
  for (int i = 0; i < 2000; ++i) EXPECT_EQ(ids[i], std::to_string(i));
}

TEST(RequestReader, EmptyInputPostsOnlyTheEnd) {
  Feeder feeder("");
  testing::ManualMainQueue queue;
  int ends = 0;
  runRequestReader(
      feeder.readFd, queue, [](Request) { FAIL(); }, [&] { ++ends; });
  queue.runAll();
  EXPECT_EQ(ends, 1);
}

// The reader runs at most the allowed amount of work ahead of the main thread, then waits for it;
// nothing is lost or reordered, and the end comes after the last request.
TEST(RequestReader, WaitsWhileTooMuchIsInFlight) {
  std::string input;
  for (int i = 0; i < 200; ++i) {
    input += "{\"id\":\"" + std::to_string(i) + "\",\"text\":\"t\",\"target\":\"en\"}\n";
  }
  Feeder feeder(input);
  testing::ManualMainQueue queue;
  std::vector<std::string> ids;
  std::atomic<bool> ended = false;
  ReaderFlow flow;
  flow.maximumInFlight = 2000;  // room for 7 of these requests
  std::thread reader([&] {
    runRequestReader(
        feeder.readFd, queue, [&](Request r) { ids.push_back(r.id); }, [&] { ended = true; }, flow);
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (queue.pending() < 7 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(queue.pending(), 7u) << "the reader went on while the main thread did not";
  EXPECT_TRUE(queue.runUntil([&] { return ended.load(); }, std::chrono::seconds(60)));
  reader.join();
  ASSERT_EQ(ids.size(), 200u);
  for (int i = 0; i < 200; ++i) EXPECT_EQ(ids[i], std::to_string(i));
}

// When the main thread is stuck (a reply write nobody reads), the end of input, or an input
// closed while the reader waits for room, ends the agent from the reader's thread.
TEST(RequestReader, EndsNowWhenTheMainThreadIsStuckAndTheInputHasEnded) {
  for (const int requests : {3, 200}) {
    SCOPED_TRACE(requests);
    std::string input;
    for (int i = 0; i < requests; ++i)
      input += R"({"id":"1","text":"t","target":"en"})"
               "\n";
    Feeder feeder(input);
    testing::ManualMainQueue queue;
    std::atomic<bool> endedNow = false;
    ReaderFlow flow;
    flow.maximumInFlight = 2000;
    flow.outputStalled = [] { return true; };
    flow.endNow = [&] { endedNow = true; };
    runRequestReader(
        feeder.readFd, queue, [](Request) {}, [] { FAIL() << "the main thread was stuck"; }, flow);
    EXPECT_TRUE(endedNow);
  }
}

}  // namespace
}  // namespace talvori
