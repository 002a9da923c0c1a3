// The line reader and the request reader over real descriptors.
#include "protocol/request_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
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

std::string requestLine(const std::string& id) {
  return "{\"id\":\"" + id + "\",\"text\":\"t\",\"target\":\"en\"}\n";
}

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

// Standard input left non-blocking by the host: the reader waits for data instead of taking
// "nothing yet" for the end of input.
TEST(LineReader, WaitsForDataOnANonBlockingDescriptor) {
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_NONBLOCK), 0);
  std::thread writer([fd = fds[1]] {
    for (const char* piece : {"first\n", "sec", "ond\nthird"}) {
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      EXPECT_GT(write(fd, piece, std::strlen(piece)), 0);
    }
    close(fd);
  });
  LineReader reader(fds[0]);
  std::vector<std::string> lines;
  while (auto line = reader.readLine()) lines.push_back(*line);
  writer.join();
  close(fds[0]);
  EXPECT_EQ(lines, (std::vector<std::string>{"first", "second", "third"}));
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
  std::atomic<int> waited = 0;
  ReaderFlow flow;
  flow.maximumInFlight = 2000;  // room for 7 of these requests
  // Asked only while the reader waits for room.
  flow.outputStalled = [&] {
    ++waited;
    return false;
  };
  flow.endNow = [] { ADD_FAILURE() << "the main thread was not stuck"; };
  flow.endPatience = std::chrono::seconds(60);
  std::thread reader([&] {
    runRequestReader(
        feeder.readFd, queue, [&](Request r) { ids.push_back(r.id); }, [&] { ended = true; }, flow);
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (waited == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_GT(waited, 0) << "the reader never waited";
  EXPECT_EQ(queue.pending(), 7u) << "the reader went on while the main thread did not";
  EXPECT_TRUE(queue.runUntil([&] { return ended.load(); }, std::chrono::seconds(60)));
  reader.join();
  ASSERT_EQ(ids.size(), 200u);
  for (int i = 0; i < 200; ++i) EXPECT_EQ(ids[i], std::to_string(i));
}

// A bound smaller than one request still lets every request through, one at a time.
TEST(RequestReader, ABoundSmallerThanOneRequestLetsOneThrough) {
  std::string input;
  for (int i = 0; i < 5; ++i) {
    input += "{\"id\":\"" + std::to_string(i) + "\",\"text\":\"t\",\"target\":\"en\"}\n";
  }
  Feeder feeder(input);
  testing::ManualMainQueue queue;
  std::vector<std::string> ids;
  std::atomic<bool> ended = false, endedNow = false;
  ReaderFlow flow;
  flow.maximumInFlight = 1;
  // Should the reader never let a request through, it gives up once the input has been closed.
  flow.endNow = [&] { endedNow = true; };
  flow.endPatience = std::chrono::seconds(2);
  std::thread reader([&] {
    runRequestReader(
        feeder.readFd, queue, [&](Request r) { ids.push_back(r.id); }, [&] { ended = true; }, flow);
  });
  EXPECT_TRUE(queue.runUntil([&] { return ended || endedNow; }, std::chrono::seconds(10)));
  reader.join();
  EXPECT_TRUE(ended);
  EXPECT_FALSE(endedNow);
  EXPECT_EQ(ids, (std::vector<std::string>{"0", "1", "2", "3", "4"}));
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

// At the end of input the reader waits for the end job while the main thread keeps taking jobs,
// however slowly, so that every request read before the end is handed over first; when the main
// thread takes none for the end's patience, the reader ends the agent itself.
TEST(RequestReader, EndsNowWhenTheMainThreadTakesNothingAfterTheEnd) {
  std::string input;
  for (int i = 0; i < 20; ++i) input += requestLine(std::to_string(i));
  {
    SCOPED_TRACE("a slow main thread");
    Feeder feeder(input);
    testing::ManualMainQueue queue;
    std::vector<std::string> ids;
    std::atomic<bool> ended = false, endedNow = false;
    ReaderFlow flow;
    flow.endNow = [&] { endedNow = true; };
    flow.endPatience = std::chrono::milliseconds(500);
    std::thread reader([&] {
      runRequestReader(
          feeder.readFd, queue,
          [&](Request r) {
            ids.push_back(r.id);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));  // work that takes time
          },
          [&] { ended = true; }, flow);
    });
    EXPECT_TRUE(queue.runUntil([&] { return ended || endedNow; }, std::chrono::seconds(60)));
    reader.join();
    EXPECT_TRUE(ended);
    EXPECT_FALSE(endedNow);
    EXPECT_EQ(ids.size(), 20u);
  }
  {
    SCOPED_TRACE("a stuck main thread");
    // Left to a reader that never returns, should the fault be there.
    auto* feeder = new Feeder(input);
    auto* queue = new testing::ManualMainQueue();  // never run: the main thread is stuck
    auto endedNow = std::make_shared<std::atomic<bool>>(false);
    ReaderFlow flow;
    flow.outputStalled = [] { return false; };
    flow.endNow = [endedNow] { *endedNow = true; };
    flow.endPatience = std::chrono::milliseconds(100);
    std::thread reader([queue, fd = feeder->readFd, flow] {
      runRequestReader(
          fd, *queue, [](Request) {}, [] {}, flow);
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!*endedNow && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!*endedNow) {
      reader.detach();
      FAIL() << "the reader waited for a main thread that never came";
    }
    reader.join();
    EXPECT_EQ(queue->pending(), 21u) << "every request and the end were posted first";
    delete queue;
    delete feeder;
  }
}

}  // namespace
}  // namespace talvori
