// Request: one decoded request line.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace talvori {

struct Request {
  // The JSON member names of a request, in declaration order. Keys compare exactly and
  // case-sensitively.
  enum class CodingKeys { id, text, target };

  std::string id;      // chosen by the host, echoed unchanged in the reply
  std::string text;    // the text to translate, exactly as decoded
  std::string target;  // the requested target language code, exactly as decoded

  friend bool operator==(const Request&, const Request&) = default;
};

// The key string of a member, and the member a key string names (none for any other string).
std::string_view keyString(Request::CodingKeys key);
std::optional<Request::CodingKeys> requestKey(std::string_view key);

// Decodes one line (valid UTF-8, terminator removed) as a Request: exactly one JSON object,
// optionally surrounded by JSON whitespace, whose members "id", "text" and "target" are all
// strings. Other members are ignored; a repeated member takes its last value. Gives none for
// anything else. Thread-safe.
std::optional<Request> decodeRequest(std::string_view line);

}  // namespace talvori
