// What the sentence engine's tests share: the engine of the build tree, the synthetic models the
// build makes for them (build/tests/sentence-models/).
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

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

}  // namespace talvori::testing
