// An in-memory file standing in for standard output: replies are written to its descriptor and
// the test reads back everything written so far.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <string>

namespace talvori::testing {

class OutputCapture {
 public:
  OutputCapture() : fd_(memfd_create("replies", MFD_CLOEXEC)) {}
  ~OutputCapture() { ::close(fd_); }
  OutputCapture(const OutputCapture&) = delete;
  OutputCapture& operator=(const OutputCapture&) = delete;

  int fd() const { return fd_; }

  // Everything written since the last call.
  std::string take() {
    std::string all;
    char buffer[4096];
    ssize_t count;
    off_t offset = 0;
    while ((count = ::pread(fd_, buffer, sizeof buffer, offset)) > 0) {
      all.append(buffer, static_cast<std::size_t>(count));
      offset += count;
    }
    std::string fresh = all.substr(read_);
    read_ = all.size();
    return fresh;
  }

 private:
  int fd_;
  std::size_t read_ = 0;
};

}  // namespace talvori::testing
