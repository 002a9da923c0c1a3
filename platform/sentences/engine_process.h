// EngineProcess: one running sentence engine for one direction: Node.js running our loader
// (sentence-engine.cjs) on the engine's files and a model folder, spoken to through pipes in the
// loader's framed protocol.
//
// Faults are values. Starting gives null when the process cannot be started, fails to load the
// model or is not ready by its deadline. A translation gives none when the process ends, stalls
// past the deadline, answers with an error or writes anything out of frame; the process is then
// ended at once (SIGKILL) and never used again, and its owner starts a fresh one. Nothing the
// engine prints reaches the agent's streams: its standard error goes to /dev/null and its
// standard output is only ever parsed.
//
// Threads: an EngineProcess belongs to the thread that started it, as base/subprocess.h asks
// (the process dies with that thread): start, use and destroy it there.
#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/subprocess.h"

namespace talvori {

// The largest request, in bytes, that the loader takes; it ends itself on a larger one.
inline constexpr std::size_t kMaxEngineRequestBytes = std::size_t{1} << 20;

// What runs the engine.
struct SentenceEngine {
  std::filesystem::path node;    // the Node.js program
  std::filesystem::path loader;  // sentence-engine.cjs
  std::filesystem::path files;   // the folder of bergamot-translator-worker.js and .wasm
};

// The engine for an agent run as `executable` with `searchPath` as its PATH: `node` found in the
// first absolute folder of the PATH that has it as an executable file, and the loader and the
// engine's files in the data folder beside the executable (`share/talvori/` beside it, as in the
// build tree, then `../share/talvori/`, as in an installation). None when any is missing. The
// engine is code, so it is looked for only where the agent itself was installed, never in the
// XDG data folders.
std::optional<SentenceEngine> findSentenceEngine(const std::filesystem::path& executable,
                                                 const char* searchPath);

// The same for this process: its executable and PATH.
std::optional<SentenceEngine> findSentenceEngine();

class EngineProcess {
 public:
  // Starts `engine` on the model in `modelFolder` and waits until it says it is ready (it has
  // loaded the model and translated a first word), at most until `ready`. Null when it cannot be
  // started, reports an error or has not become ready by then; the process is ended.
  static std::unique_ptr<EngineProcess> start(const SentenceEngine& engine,
                                              const std::filesystem::path& modelFolder,
                                              Deadline ready);

  // Ends the process at once.
  ~EngineProcess() = default;

  EngineProcess(const EngineProcess&) = delete;
  EngineProcess& operator=(const EngineProcess&) = delete;

  // Whether the process can take another translation: no fault so far and still running (one
  // that ended while idle, killed from outside say, is reaped here).
  bool usable();

  // The translation of `text` (UTF-8), whose line breaks and blank lines the loader keeps, or
  // none by `deadline`. A text longer than kMaxEngineRequestBytes gives none without reaching
  // the process, which stays usable; every other failure ends the process.
  std::optional<std::string> translate(std::string_view text, Deadline deadline);

 private:
  explicit EngineProcess(std::unique_ptr<Subprocess> process);

  // Ends the process and marks this object unusable; gives none, for the caller to return.
  std::nullopt_t fail();

  const std::unique_ptr<Subprocess> process_;
  std::vector<char> buffer_;
  bool failed_ = false;
};

}  // namespace talvori
