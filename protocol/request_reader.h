// The request reader: request lines from a descriptor, handed to the main thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "protocol/request.h"

namespace talvori {

class MainQueue;

// Reads lines from a descriptor with a buffered read(2) loop, waiting for data when the
// descriptor is non-blocking. A line is returned without its line feed and a carriage return
// directly before it, its bytes otherwise as read (the request decoder deals with ill-formed
// UTF-8); a last line without a line feed is returned like any other. There is no limit on a
// line's length. One thread at a time.
class LineReader {
 public:
  explicit LineReader(int fd, std::size_t bufferSize = 64 * 1024);

  // The next line, or none at the end of input or after a read error.
  std::optional<std::string> readLine();

 private:
  int fd_;
  std::vector<char> buffer_;
  std::size_t begin_ = 0;  // unread bytes are buffer_[begin_, end_)
  std::size_t end_ = 0;
  bool ended_ = false;
};

// How far the reader may run ahead of the main thread, and what it does when the main thread is
// stuck.
struct ReaderFlow {
  // Request bytes (plus a fixed allowance per request) handed over and not yet taken by the main
  // thread. Beyond this the reader stops reading, so that a host that does not read replies is
  // held back by the input pipe instead of filling memory. One request is always let through.
  std::size_t maximumInFlight = 4 << 20;
  // Asked on the reader thread while it waits for the main thread (with `endNow` set): whether
  // the main thread is stuck in a reply write. Unset: never.
  std::function<bool()> outputStalled;
  // Called on the reader thread when the end job would never get its turn: the input has ended
  // (or its writer has closed it) while the main thread is stuck, in a reply write or by having
  // run no hand-over job for `endPatience`. It should end the process. Unset: the reader returns
  // as soon as the end job is posted, and waits for room however long it takes.
  std::function<void()> endNow;
  std::chrono::milliseconds endPatience{1000};
};

// Reads request lines from `fd` until the end of input. Each line that decodes as a Request is
// posted to `mainQueue` as one job that calls `handOver` with it; lines that do not decode are
// dropped. At the end of input (or a read error) `atEnd` is posted, behind every hand-over job,
// so that every request read before the end has been handed over when it runs. With `endNow`
// set, the function then waits until `atEnd` has run, or calls `endNow` when the main thread is
// stuck; without, it returns at once. Runs on the reader's own thread; it waits for the main
// thread only as `flow` says.
void runRequestReader(int fd, MainQueue& mainQueue, std::function<void(Request)> handOver,
                      std::function<void()> atEnd, ReaderFlow flow = {});

}  // namespace talvori
