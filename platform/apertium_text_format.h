// Apertium's plain-text format, done in process: the same stream transformations as the engine's
// apertium-destxt (before translation) and apertium-retxt (after it), without a process each.
// Pure functions; callable from any thread.
#pragma once

#include <string>
#include <string_view>

namespace talvori {

// Turns plain UTF-8 text into an Apertium stream: the stream's special characters are escaped
// with a backslash, runs of white space other than a single space become superblanks ("[\n\n]"),
// and possible sentence ends (blank lines, the end of the text) get the ".[]" mark the engine
// expects. NUL characters are dropped, as apertium-destxt drops them, so that the text can be
// framed by NUL; malformed UTF-8 bytes become '?'. Unlike apertium-destxt, long superblanks stay
// inline instead of going to a temporary file.
std::string deformatText(std::string_view text);

// Turns a translated Apertium stream back into plain text: superblank brackets and the
// sentence-end marks go, escaped special characters lose their backslash. A superblank naming a
// file ("[@/path]") is never read: its brackets go and its text stays.
std::string reformatText(std::string_view stream);

}  // namespace talvori
