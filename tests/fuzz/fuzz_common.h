// Shared pieces of the fuzz targets: checking reply lines and replaying a model with fakes.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/utf8.h"
#include "protocol/reply.h"

namespace talvori::fuzz {

// Stops the run with a message; libFuzzer records the input as a crash.
[[noreturn]] inline void fail(const char* what, std::string_view detail = {}) {
  std::fprintf(stderr, "invariant broken: %s\n%.*s\n", what, static_cast<int>(detail.size()),
               detail.data());
  std::abort();
}

inline void check(bool condition, const char* what, std::string_view detail = {}) {
  if (!condition) fail(what, detail);
}

// An in-memory file reused across runs: filled here and read through its descriptor.
class MemoryFile {
 public:
  MemoryFile() : fd_(memfd_create("fuzz", MFD_CLOEXEC)) { check(fd_ >= 0, "memfd_create"); }
  ~MemoryFile() { ::close(fd_); }
  int fd() const { return fd_; }

  // Replaces the contents with `bytes` and rewinds.
  void reset(std::string_view bytes = {}) {
    check(::ftruncate(fd_, 0) == 0, "ftruncate");
    check(::lseek(fd_, 0, SEEK_SET) == 0, "lseek");
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
      check(n > 0, "write");
      done += static_cast<std::size_t>(n);
    }
    check(::lseek(fd_, 0, SEEK_SET) == 0, "lseek");
  }

  std::string contents() const {
    std::string all;
    char buffer[4096];
    ssize_t n;
    off_t offset = 0;
    while ((n = ::pread(fd_, buffer, sizeof buffer, offset)) > 0) {
      all.append(buffer, static_cast<std::size_t>(n));
      offset += n;
    }
    return all;
  }

 private:
  int fd_;
};

// Splits the replies written so far into lines and checks each: a compact JSON object holding
// "id" and exactly one of "text" and "error", all strings, written exactly as encodeReply would.
inline std::vector<Reply> parseReplies(const std::string& output) {
  std::vector<Reply> replies;
  check(output.empty() || output.back() == '\n', "output ends inside a line", output);
  std::size_t start = 0;
  while (start < output.size()) {
    const std::size_t end = output.find('\n', start);
    const std::string line = output.substr(start, end - start);
    start = end + 1;
    check(isValidUtf8(line), "reply is not UTF-8", line);
    const auto value = nlohmann::json::parse(line, nullptr, /*allow_exceptions=*/false);
    check(value.is_object(), "reply is not a JSON object", line);
    check(value.contains("id") && value["id"].is_string(), "reply without a string id", line);
    const bool hasText = value.contains("text");
    const bool hasError = value.contains("error");
    check(hasText != hasError, "reply needs exactly one of text and error", line);
    check(value.size() == 2, "reply has other members", line);
    const char* member = hasText ? "text" : "error";
    check(value[member].is_string(), "text or error is not a string", line);
    const Reply reply =
        hasText ? Reply::success(value["id"].get<std::string>(), value["text"].get<std::string>())
                : Reply::failure(value["id"].get<std::string>(), value["error"].get<std::string>());
    std::string encoded;
    encodeReply(reply, encoded);
    check(encoded == line, "reply is not in its compact form", line);
    replies.push_back(std::move(reply));
  }
  return replies;
}

}  // namespace talvori::fuzz
