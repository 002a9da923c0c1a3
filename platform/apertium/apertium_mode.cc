#include "platform/apertium/apertium_mode.h"

#include <array>
#include <cctype>
#include <fstream>
#include <memory>
#include <sstream>
#include <utility>

extern char** environ;

namespace talvori {

namespace {

constexpr std::string_view kWblankTool = "apertium-wblank-mode";

// Runs `command` with no input and gives its standard output when it exits with status 0
// before `deadline`.
std::optional<std::string> capture(const Command& command, Deadline deadline) {
  const std::unique_ptr<Subprocess> process = Subprocess::start(
      {command}, {.environment = engineEnvironment(), .stopGrace = std::chrono::milliseconds(0)});
  if (!process) return std::nullopt;
  process->closeInput();
  std::string text;
  std::array<char, 4096> buffer;
  while (true) {
    const Transfer got = process->read(buffer, deadline);
    if (got.status == IoStatus::closed) break;
    if (got.status != IoStatus::ok) return std::nullopt;
    text.append(buffer.data(), got.read);
  }
  if (process->wait(deadline) != 0) return std::nullopt;
  return text;
}

bool isSeparator(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::optional<ProgramList> parseModeCommand(std::string_view command,
                                            std::string_view generatorOption) {
  while (!command.empty() && std::isspace(static_cast<unsigned char>(command.back()))) {
    command.remove_suffix(1);
  }
  ProgramList programs;
  std::vector<std::string> program;
  std::string word;
  bool inWord = false;
  bool quoted = false;
  const auto endWord = [&] {
    if (inWord) program.push_back(std::move(word));
    word.clear();
    inWord = false;
    quoted = false;
  };
  std::size_t i = 0;
  while (i < command.size()) {
    const char c = command[i];
    if (isSeparator(c)) {
      endWord();
      ++i;
    } else if (c == '|') {
      endWord();
      if (program.empty()) return std::nullopt;
      programs.push_back(std::move(program));
      program.clear();
      ++i;
    } else if (c == '\'') {
      const std::size_t close = command.find('\'', i + 1);
      if (close == std::string_view::npos) return std::nullopt;
      word.append(command.substr(i + 1, close - i - 1));
      inWord = quoted = true;
      i = close + 1;
    } else if (c == '"') {
      ++i;
      while (i < command.size() && command[i] != '"') {
        const char d = command[i];
        if (d == '$' || d == '`') return std::nullopt;
        if (d == '\\' && i + 1 < command.size() &&
            std::string_view("\\\"$`").find(command[i + 1]) != std::string_view::npos) {
          ++i;
        }
        word += command[i++];
      }
      if (i >= command.size()) return std::nullopt;
      inWord = quoted = true;
      ++i;
    } else if (c == '\\') {
      if (i + 1 >= command.size() || command[i + 1] == '\n') return std::nullopt;
      word += command[i + 1];
      inWord = true;
      i += 2;
    } else if (c == '$') {
      // Only the placeholders the apertium script fills, standing as words of their own.
      const bool alone =
          !inWord && i + 1 < command.size() && (command[i + 1] == '1' || command[i + 1] == '2') &&
          (i + 2 == command.size() || isSeparator(command[i + 2]) || command[i + 2] == '|');
      if (!alone) return std::nullopt;
      if (command[i + 1] == '1' && !generatorOption.empty()) {
        program.emplace_back(generatorOption);
      }
      i += 2;
    } else if (c == '>' && inWord && !quoted && word == "2") {
      // "2>/dev/null": the programs' errors go to /dev/null anyway.
      std::size_t target = i + 1;
      while (target < command.size() && isSeparator(command[target])) ++target;
      constexpr std::string_view kNull = "/dev/null";
      if (command.substr(target, kNull.size()) != kNull) return std::nullopt;
      const std::size_t after = target + kNull.size();
      if (after < command.size() && !isSeparator(command[after]) && command[after] != '|') {
        return std::nullopt;
      }
      word.clear();
      inWord = false;
      i = after;
    } else if (std::string_view(";&<>()`\n*?[]{}").find(c) != std::string_view::npos ||
               (!inWord && (c == '#' || c == '~'))) {
      return std::nullopt;
    } else {
      word += c;
      inWord = true;
      ++i;
    }
  }
  endWord();
  if (program.empty()) return std::nullopt;
  programs.push_back(std::move(program));
  return programs;
}

std::optional<ProgramList> loadModePrograms(const std::filesystem::path& modeFile,
                                            Deadline deadline) {
  constexpr std::string_view kHideUnknownMarks = "-n";
  if (const std::optional<std::string> rewritten =
          capture({std::string(kWblankTool), "-z", modeFile.string()}, deadline);
      rewritten && !rewritten->empty()) {
    return parseModeCommand(*rewritten, kHideUnknownMarks);
  }
  std::ifstream file(modeFile);
  if (!file) return std::nullopt;
  std::stringstream contents;
  contents << file.rdbuf();
  std::optional<ProgramList> programs = parseModeCommand(contents.str(), kHideUnknownMarks);
  if (programs) {
    for (std::vector<std::string>& program : *programs) program.insert(program.begin() + 1, "-z");
  }
  return programs;
}

std::vector<std::string> engineEnvironment() {
  std::vector<std::string> variables;
  for (char** entry = environ; entry && *entry; ++entry) {
    const std::string_view variable(*entry);
    if (variable.starts_with("LANG=") || variable.starts_with("LANGUAGE=") ||
        variable.starts_with("LC_")) {
      continue;
    }
    variables.emplace_back(variable);
  }
  variables.emplace_back("LC_ALL=C.UTF-8");
  return variables;
}

}  // namespace talvori
