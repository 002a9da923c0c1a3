// DescriptorReplySink: reply lines written to a file descriptor, standard output in the agent.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include "protocol/reply_sink.h"

namespace talvori {

// Writes each reply as the JSON and then its line feed, with write(2) calls of at most 64 KiB,
// retrying partial writes and EINTR, and waiting for room when the descriptor is non-blocking,
// so that a line is never cut, repeated or buffered in the process. A write error (the host
// closed its end) abandons the line silently. write() is for the main
// thread only; stalledFor() may be asked from any thread. The descriptor outlives the sink.
class DescriptorReplySink final : public ReplySink {
 public:
  explicit DescriptorReplySink(int fd) : fd_(fd) {}

  void write(const Reply& reply) override;

  // How long the write now in progress has waited without the descriptor taking a byte: a host
  // that stops reading leaves it growing. Zero when no write is in progress.
  std::chrono::nanoseconds stalledFor() const;

 private:
  bool writeAll(const char* bytes, std::size_t size);

  int fd_;
  // When the write(2) call in progress began, in steady-clock nanoseconds; 0 when none is.
  std::atomic<std::int64_t> waitingSince_{0};
};

}  // namespace talvori
