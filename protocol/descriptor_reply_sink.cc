#include "protocol/descriptor_reply_sink.h"

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string>

namespace talvori {

namespace {

// Writes all of `bytes`, retrying partial writes and interrupted calls. Gives false on an error.
bool writeAll(int fd, const char* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, bytes, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace

void DescriptorReplySink::write(const Reply& reply) {
  std::string line;
  line.reserve(32 + reply.id().size() + (reply.text() ? reply.text() : reply.error())->size());
  encodeReply(reply, line);
  if (writeAll(fd_, line.data(), line.size())) writeAll(fd_, "\n", 1);
}

}  // namespace talvori
