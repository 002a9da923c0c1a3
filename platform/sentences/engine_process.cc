#include "platform/sentences/engine_process.h"

#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cstdlib>
#include <span>
#include <system_error>
#include <utility>

#include "base/utf8.h"

extern char** environ;

namespace talvori {

namespace {

// The loader's file name in the data folder, and its folder of the engine's files.
constexpr std::string_view kLoaderName = "sentence-engine.cjs";
constexpr std::string_view kEngineFolderName = "bergamot";
constexpr std::string_view kEngineFileNames[] = {"bergamot-translator-worker.js",
                                                 "bergamot-translator-worker.wasm"};

// The longest answer header ("error 1234567890"); a longer line is out of frame.
constexpr std::size_t kMaxHeaderBytes = 20;

bool isExecutableFile(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error) && ::access(path.c_str(), X_OK) == 0;
}

bool isFile(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

// The agent's environment without Node.js's own settings (NODE_OPTIONS could make it load
// other code or print, NODE_PATH find other modules): the loader needs none of them.
std::vector<std::string> engineEnvironment() {
  std::vector<std::string> environment;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string_view variable(*entry);
    if (!variable.starts_with("NODE_")) environment.emplace_back(variable);
  }
  return environment;
}

struct Header {
  bool ok = false;
  std::size_t size = 0;
};

// "ok <n>" or "error <n>", n of one to ten digits; none for anything else.
std::optional<Header> parseHeader(std::string_view line) {
  Header header;
  if (line.starts_with("ok ")) {
    header.ok = true;
    line.remove_prefix(3);
  } else if (line.starts_with("error ")) {
    line.remove_prefix(6);
  } else {
    return std::nullopt;
  }
  if (line.empty() || line.size() > 10) return std::nullopt;
  for (char c : line) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  std::from_chars(line.data(), line.data() + line.size(), header.size);
  return header;
}

}  // namespace

std::optional<SentenceEngine> findSentenceEngine(const std::filesystem::path& executable,
                                                 const char* searchPath) {
  std::optional<std::filesystem::path> node;
  std::string_view folders = searchPath != nullptr ? searchPath : "";
  while (!node) {
    const std::size_t colon = folders.find(':');
    const std::filesystem::path folder(folders.substr(0, colon));
    if (folder.is_absolute() && isExecutableFile(folder / "node")) node = folder / "node";
    if (colon == std::string_view::npos) break;
    folders.remove_prefix(colon + 1);
  }
  if (!node || !executable.is_absolute()) return std::nullopt;
  const std::filesystem::path beside = executable.parent_path();
  for (const std::filesystem::path& data :
       {beside / "share" / "talvori",
        (beside.parent_path() / "share" / "talvori").lexically_normal()}) {
    SentenceEngine engine{*node, data / kLoaderName, data / kEngineFolderName};
    bool complete = isFile(engine.loader);
    for (std::string_view name : kEngineFileNames)
      complete = complete && isFile(engine.files / name);
    if (complete) return engine;
  }
  return std::nullopt;
}

std::optional<SentenceEngine> findSentenceEngine() {
  std::error_code error;
  const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
  return findSentenceEngine(error ? std::filesystem::path() : executable, std::getenv("PATH"));
}

EngineProcess::EngineProcess(std::unique_ptr<Subprocess> process)
    : process_(std::move(process)), buffer_(64 * 1024) {}

std::unique_ptr<EngineProcess> EngineProcess::start(const SentenceEngine& engine,
                                                    const std::filesystem::path& modelFolder,
                                                    Deadline ready) {
  SubprocessOptions options;
  options.environment = engineEnvironment();
  // The engine needs no working directory; the root keeps it from holding the agent's busy.
  options.workingDirectory = "/";
  // It keeps nothing worth a graceful end.
  options.stopGrace = std::chrono::milliseconds::zero();
  std::unique_ptr<Subprocess> process = Subprocess::start(
      {{engine.node.string(), engine.loader.string(), engine.files.string(), modelFolder.string()}},
      options);
  if (!process) return nullptr;
  // Exactly "ready\n", and nothing after it until asked.
  constexpr std::string_view kReady = "ready\n";
  std::string received;
  while (received.size() < kReady.size()) {
    char chunk[kReady.size()];
    const Transfer moved = process->read(std::span(chunk, kReady.size() - received.size()), ready);
    if (moved.status != IoStatus::ok) return nullptr;
    received.append(chunk, moved.read);
    if (!kReady.starts_with(received)) return nullptr;
  }
  return std::unique_ptr<EngineProcess>(new EngineProcess(std::move(process)));
}

bool EngineProcess::usable() { return !failed_ && process_->alive(); }

std::nullopt_t EngineProcess::fail() {
  failed_ = true;
  process_->stop();
  return std::nullopt;
}

std::optional<std::string> EngineProcess::translate(std::string_view text, Deadline deadline) {
  if (failed_) return std::nullopt;
  if (text.size() > kMaxEngineRequestBytes) return std::nullopt;
  // Output waiting before the request is sent answers nothing that was asked.
  const Transfer early = process_->read(std::span(buffer_), std::chrono::steady_clock::now());
  if (early.status != IoStatus::timedOut) return fail();

  const std::string frame = std::to_string(text.size()) + "\n" + std::string(text);
  const std::size_t maxAnswer = 64 * text.size() + (std::size_t{1} << 20);
  std::string_view unsent = frame;
  std::string received;
  std::optional<Header> header;
  std::size_t bodyStart = 0;
  while (true) {
    const Transfer moved = process_->transfer(unsent, std::span(buffer_), deadline);
    unsent.remove_prefix(moved.written);
    received.append(buffer_.data(), moved.read);
    if (moved.status != IoStatus::ok) return fail();
    if (!header) {
      const std::size_t newline = received.find('\n');
      if (newline == std::string::npos) {
        if (received.size() > kMaxHeaderBytes) return fail();
        continue;
      }
      header = parseHeader(std::string_view(received).substr(0, newline));
      if (!header || header->size > maxAnswer) return fail();
      bodyStart = newline + 1;
    }
    if (received.size() < bodyStart + header->size) continue;
    // An answer before the whole request was read, bytes past it, an error answer or text
    // that is not UTF-8: the process is not doing what was asked.
    if (received.size() > bodyStart + header->size || !unsent.empty() || !header->ok) {
      return fail();
    }
    received.erase(0, bodyStart);
    if (!isValidUtf8(received)) return fail();
    return received;
  }
}

}  // namespace talvori
