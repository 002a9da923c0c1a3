// DescriptorReplySink: reply lines written to a file descriptor, standard output in the agent.
#pragma once

#include "protocol/reply_sink.h"

namespace talvori {

// Writes each reply as two write(2) calls, the JSON and then its line feed, retrying partial
// writes and EINTR, so that a line is never cut or buffered in the process. A write error (the
// host closed its end) abandons the line silently. Main thread only; the descriptor outlives
// the sink.
class DescriptorReplySink final : public ReplySink {
 public:
  explicit DescriptorReplySink(int fd) : fd_(fd) {}

  void write(const Reply& reply) override;

 private:
  int fd_;
};

}  // namespace talvori
