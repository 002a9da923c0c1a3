// Apertium's plain-text format, done in process: the same stream transformations as the engine's
// apertium-destxt (before translation) and apertium-retxt (after it), without a process each.
// Pure functions; callable from any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace talvori {

// Turns plain UTF-8 text into an Apertium stream: the stream's special characters are escaped
// with a backslash, runs of white space other than a single space become superblanks ("[\n\n]"),
// and possible sentence ends (blank lines, the end of the text) get the ".[]" mark the engine
// expects. NUL characters are dropped, as apertium-destxt drops them, so that the text can be
// framed by NUL; malformed UTF-8 bytes become '?'. Unlike apertium-destxt, long superblanks stay
// inline instead of going to a temporary file.
std::string deformatText(std::string_view text);

// Cuts a deformatted stream into pieces of at least `pieceSize` bytes (the last may be shorter),
// each ending after a sentence end (".", "!" or "?" and the blanks after it) and the next
// starting with a capital letter, so that the pieces can go through a pipeline as separate
// frames, at the same time, and be translated as the whole would be. A stream without such
// places is one piece. The pieces, joined, are the stream.
std::vector<std::string_view> splitStream(std::string_view stream, std::size_t pieceSize);

// Turns a translated Apertium stream back into plain text: superblank brackets and the
// sentence-end marks go, escaped special characters lose their backslash. A superblank naming a
// file ("[@/path]") is never read: its brackets go and its text stays.
std::string reformatText(std::string_view stream);

}  // namespace talvori
