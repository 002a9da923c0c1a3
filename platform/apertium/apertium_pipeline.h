// A running Apertium translation pipeline: the programs of one mode file, started in null-flush
// mode and joined by pipes, that translate NUL-terminated frames.
//
// The text only ever reaches the programs through the first one's standard input; no shell runs.
// The programs run as base/subprocess.h runs them (standard error to /dev/null, ending with the
// thread that started them), in the UTF-8 C locale. A pipeline belongs to the thread that
// started it: start it, exchange frames and destroy it on that one thread. Its faults are values.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/subprocess.h"
#include "platform/apertium/apertium_mode.h"

namespace talvori {

class ApertiumPipeline {
 public:
  // Starts `programs` joined by pipes; none when a program cannot be found or started (any
  // program already started is killed and reaped).
  static std::unique_ptr<ApertiumPipeline> start(const ProgramList& programs);

  ApertiumPipeline(const ApertiumPipeline&) = delete;
  ApertiumPipeline& operator=(const ApertiumPipeline&) = delete;

  // Whether every program is still running; one that has ended (killed while the pipeline sat
  // idle, say) is reaped, and the pipeline must not be used again.
  bool alive() { return programs_->alive(); }

  // Writes each of `frames` (which must hold no NUL) followed by a NUL, back to back, and reads
  // one NUL-ended answer per frame, writing and reading at once so that neither side can fill a
  // pipe and stall, and so that the programs work on several frames at the same time. Gives the
  // answers without their NULs. Fails (none) when the output ends (a program exited),
  // `deadline` passes, or the answers run past `maximumAnswer` bytes, come before their frames
  // were written or are followed by unrequested output. After a failure the pipeline must not be
  // used again.
  std::optional<std::vector<std::string>> exchange(const std::vector<std::string>& frames,
                                                   Deadline deadline, std::size_t maximumAnswer);

 private:
  explicit ApertiumPipeline(std::unique_ptr<Subprocess> programs)
      : programs_(std::move(programs)) {}

  // Killed at once when the pipeline is destroyed: they keep nothing worth a graceful end.
  const std::unique_ptr<Subprocess> programs_;
};

}  // namespace talvori
