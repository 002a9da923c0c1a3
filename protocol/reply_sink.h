// ReplySink: where the agent's reply lines go.
//
// Main thread only. write() hands on one whole reply line and returns when it has been handed
// on; it cannot fail: a line that cannot be delivered (the reader has gone) is dropped.
#pragma once

#include "protocol/reply.h"

namespace talvori {

class ReplySink {
 public:
  virtual ~ReplySink() = default;

  // Writes `reply`, encoded, followed by one line feed.
  virtual void write(const Reply& reply) = 0;
};

}  // namespace talvori
