#include "protocol/request_reader.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>

#include "protocol/main_queue.h"

namespace talvori {

LineReader::LineReader(int fd, std::size_t bufferSize) : fd_(fd), buffer_(bufferSize) {}

std::optional<std::string> LineReader::readLine() {
  std::string line;
  bool haveBytes = false;
  for (;;) {
    if (begin_ < end_) {
      const char* start = buffer_.data() + begin_;
      const auto* newline = static_cast<const char*>(std::memchr(start, '\n', end_ - begin_));
      if (newline != nullptr) {
        line.append(start, newline);
        begin_ += static_cast<std::size_t>(newline - start) + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return line;
      }
      line.append(start, end_ - begin_);
      haveBytes = true;
      begin_ = end_ = 0;
    }
    if (ended_) break;
    const ssize_t count = ::read(fd_, buffer_.data(), buffer_.size());
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) {
      ended_ = true;
      break;
    }
    begin_ = 0;
    end_ = static_cast<std::size_t>(count);
  }
  // End of input: a last line without a line feed still counts.
  if (!haveBytes) return std::nullopt;
  return line;
}

void runRequestReader(int fd, MainQueue& mainQueue, std::function<void(Request)> handOver,
                      std::function<void()> atEnd) {
  // Jobs may run after this function has returned, so they share ownership of the handler.
  auto handler = std::make_shared<const std::function<void(Request)>>(std::move(handOver));
  LineReader reader(fd);
  while (auto line = reader.readLine()) {
    if (line->empty()) continue;
    auto request = decodeRequest(*line);
    if (!request) continue;
    mainQueue.post(
        [handler, request = std::move(*request)]() mutable { (*handler)(std::move(request)); });
  }
  mainQueue.post(std::move(atEnd));
}

}  // namespace talvori
