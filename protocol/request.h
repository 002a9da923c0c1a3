// Request: one decoded request line.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace talvori {

// The target a request asks for: "auto", "en" or "zh-Hans", each compared exactly and
// case-sensitively; every other string is `unsupported`, which admission refuses.
enum class Target { automatic, english, simplifiedChinese, unsupported };

// The target a decoded string names.
Target targetNamed(std::string_view code);

struct Request {
  // The JSON member names of a request, in declaration order. Keys compare exactly and
  // case-sensitively.
  enum class CodingKeys { id, text, target };

  std::string id;    // chosen by the host, echoed unchanged in the reply
  std::string text;  // the text to translate, exactly as decoded
  Target target = Target::unsupported;

  friend bool operator==(const Request&, const Request&) = default;
};

// The key string of a member, and the member a key string names (none for any other string).
std::string_view keyString(Request::CodingKeys key);
std::optional<Request::CodingKeys> requestKey(std::string_view key);

// Decodes one line (terminator removed) as a Request: exactly one JSON object, optionally
// surrounded by JSON whitespace (and led by a byte order mark), whose members "id", "text" and
// "target" are all strings, the target read as a Target. Other members are ignored, whatever their
// values; a repeated member takes its last value. Inside strings, each maximal ill-formed UTF-8
// subpart and each escaped surrogate without its partner decode as U+FFFD; elsewhere, bytes that
// are not UTF-8 make the line invalid. Gives none for anything else. Time and memory are linear in
// the line's length. Thread-safe.
std::optional<Request> decodeRequest(std::string_view line);

}  // namespace talvori
