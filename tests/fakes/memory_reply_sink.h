// A reply sink for tests: keeps every line written, in order, for the test to compare as a
// transcript.
#pragma once

#include <string>
#include <utility>

#include "protocol/reply_sink.h"

namespace talvori::testing {

class MemoryReplySink : public ReplySink {
 public:
  void write(const Reply& reply) override {
    encodeReply(reply, transcript_);
    transcript_ += '\n';
  }

  // Every line written since the last call.
  std::string take() { return std::exchange(transcript_, {}); }

 private:
  std::string transcript_;
};

}  // namespace talvori::testing
