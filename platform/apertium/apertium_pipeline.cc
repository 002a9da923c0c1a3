#include "platform/apertium/apertium_pipeline.h"

#include <array>
#include <chrono>
#include <utility>

namespace talvori {

std::unique_ptr<ApertiumPipeline> ApertiumPipeline::start(const ProgramList& programs) {
  std::unique_ptr<Subprocess> process = Subprocess::start(
      programs, {.environment = engineEnvironment(), .stopGrace = std::chrono::milliseconds(0)});
  if (!process) return nullptr;
  return std::unique_ptr<ApertiumPipeline>(new ApertiumPipeline(std::move(process)));
}

std::optional<std::vector<std::string>> ApertiumPipeline::exchange(
    const std::vector<std::string>& frames, Deadline deadline, std::size_t maximumAnswer) {
  std::string pending;
  for (const std::string& frame : frames) {
    pending += frame;
    pending += '\0';
  }
  std::size_t written = 0;
  std::size_t framesWritten = 0;  // whole frames, NUL included, sent so far
  std::size_t nextFrameEnd = frames.empty() ? 0 : frames.front().size() + 1;
  std::vector<std::string> answers(frames.empty() ? 0 : 1);
  std::size_t received = 0;
  std::size_t answerBytes = 0;  // so far, NULs left out
  std::array<char, 65536> buffer;
  while (received < frames.size()) {
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    const Transfer moved =
        programs_->transfer(std::string_view(pending).substr(written), buffer, deadline);
    if (moved.status == IoStatus::timedOut) continue;
    if (moved.status != IoStatus::ok) return std::nullopt;
    written += moved.written;
    while (framesWritten < frames.size() && written >= nextFrameEnd) {
      ++framesWritten;
      if (framesWritten < frames.size()) nextFrameEnd += frames[framesWritten].size() + 1;
    }
    const std::size_t n = moved.read;
    if (answerBytes + n > maximumAnswer) return std::nullopt;
    for (std::size_t i = 0; i < n; ++i) {
      if (buffer[i] != '\0') {
        answers.back() += buffer[i];
        ++answerBytes;
        continue;
      }
      // An answer's NUL can only follow its frame's, and nothing may follow the last answer.
      if (received >= framesWritten || received + 1 > frames.size()) return std::nullopt;
      ++received;
      if (received == frames.size()) {
        if (i + 1 != n) return std::nullopt;
        break;
      }
      answers.emplace_back();
    }
  }
  return answers;
}

}  // namespace talvori
