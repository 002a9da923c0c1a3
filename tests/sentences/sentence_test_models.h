// What the sentence engine's tests share: the engine of the build tree, the synthetic models the
// build makes for them (build/tests/sentence-models/), and this process's children.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/sentences/engine_process.h"

namespace talvori::testing {

// The build tree's engine, with node from PATH (else /usr/bin).
inline SentenceEngine testEngine() {
  const char* path = std::getenv("PATH");
  const std::string search = std::string(path != nullptr ? path : "") + ":/usr/bin";
  return findSentenceEngine(std::filesystem::path(TALVORI_BINARY_DIR) / "talvori", search.c_str())
      .value_or(SentenceEngine{});
}

// A model folder made by the build: "zhen" and "enzh" (one encoder and one decoder layer,
// 4,000-piece vocabularies, outputs that run to the length limit) and "zhen-damaged" (a matrix
// of the wrong shape, which the engine aborts on).
inline std::filesystem::path testModel(const std::string& name) {
  return std::filesystem::path(TALVORI_BINARY_DIR) / "tests" / "sentence-models" / name;
}

// The live (not zombie) children of this process, from /proc.
inline std::vector<pid_t> childProcesses() {
  std::vector<pid_t> found;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream file(entry.path() / "stat");
    const std::string stat((std::istreambuf_iterator<char>(file)), {});
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream fields(stat.substr(close + 2));
    char state = 0;
    pid_t parent = 0;
    fields >> state >> parent;
    if (parent == ::getpid() && state != 'Z') found.push_back(std::stoi(name));
  }
  return found;
}

}  // namespace talvori::testing
