// Apertium's mode files: the shell pipeline a direction runs, turned into the programs to start,
// without a shell, and the environment the engine's programs run in.
//
// Faults are values: a mode file that cannot be read, or that asks for more than a plain
// pipeline of programs, gives none. Any thread may call these; loadModePrograms runs a program
// of the engine's, so its thread is subject to what base/subprocess.h asks of one.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/subprocess.h"

namespace talvori {

// The programs of a pipeline, first to last.
using ProgramList = std::vector<Command>;

// Splits a mode file's shell pipeline ("lt-proc -z 'a.bin' | apertium-tagger -g $2 'b.prob'")
// into one argument vector per program, the way the shell would for this plain form: words,
// single and double quotes, backslash escapes and "|". $1 becomes `generatorOption` and $2 is
// dropped, as the apertium script fills them for unmarked plain-text translation; a "2>/dev/null"
// redirection is dropped. None for anything else a shell would interpret (";", "&", "$(...)",
// other redirections...) or an empty program.
std::optional<ProgramList> parseModeCommand(std::string_view command,
                                            std::string_view generatorOption);

// The programs of `modeFile` in null-flush mode, exactly as the apertium script would run them:
// the engine's apertium-wblank-mode rewrites the mode (adding -z to each program and the
// word-bound blank helpers). When that tool is missing, fails or has not answered by `deadline`,
// the mode file is read directly and each program gets -z after its name. Unknown-word marks are
// hidden (-n for the generator).
std::optional<ProgramList> loadModePrograms(const std::filesystem::path& modeFile,
                                            Deadline deadline);

// The environment the engine's programs run in: the agent's, with every locale setting replaced
// by the UTF-8 C locale, which the C library always has. A locale the machine lacks (common over
// SSH and in containers) would otherwise make the engine's programs abort at start.
std::vector<std::string> engineEnvironment();

}  // namespace talvori
