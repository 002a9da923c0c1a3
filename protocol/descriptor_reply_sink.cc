#include "protocol/descriptor_reply_sink.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <string>

namespace talvori {

namespace {

// Each write(2) call hands over at most this much, so that a reply that makes progress shows it.
constexpr std::size_t kChunk = 64 * 1024;

std::int64_t nowNanoseconds() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

bool DescriptorReplySink::writeAll(const char* bytes, std::size_t size) {
  while (size > 0) {
    waitingSince_.store(nowNanoseconds(), std::memory_order_relaxed);
    const ssize_t written = ::write(fd_, bytes, std::min(size, kChunk));
    if (written < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        // A descriptor left non-blocking by the host: wait for room (or an error) and go on.
        pollfd poller{fd_, POLLOUT, 0};
        if (::poll(&poller, 1, -1) >= 0 || errno == EINTR) continue;
      }
      return false;
    }
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

void DescriptorReplySink::write(const Reply& reply) {
  std::string line;
  line.reserve(32 + reply.id().size() + (reply.text() ? reply.text() : reply.error())->size());
  encodeReply(reply, line);
  if (writeAll(line.data(), line.size())) writeAll("\n", 1);
  waitingSince_.store(0, std::memory_order_relaxed);
}

std::chrono::nanoseconds DescriptorReplySink::stalledFor() const {
  const std::int64_t since = waitingSince_.load(std::memory_order_relaxed);
  if (since == 0) return std::chrono::nanoseconds::zero();
  return std::chrono::nanoseconds(std::max<std::int64_t>(0, nowNanoseconds() - since));
}

}  // namespace talvori
