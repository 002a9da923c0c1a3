// Reply: one answer to a request, and its line encoding.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace talvori {

struct Reply {
  // The JSON member names of a reply, in the order they are written.
  enum class CodingKeys { id, text, error };

  std::string id;                    // the id of the request answered
  std::optional<std::string> text;   // the translated text, on success
  std::optional<std::string> error;  // a user-facing message, on failure

  friend bool operator==(const Reply&, const Reply&) = default;
};

std::string_view keyString(Reply::CodingKeys key);

// Encodes a reply as one compact JSON object with members id, text, error in that order, unset
// members left out. Strings are escaped as RFC 8259 requires (quotation mark, reverse solidus and
// characters below U+0020); bytes that are not valid UTF-8 are replaced by U+FFFD so that every
// reply can be written. The result holds no line feed. Appends to `out`.
void encodeReply(const Reply& reply, std::string& out);

// Writes the encoded reply and then one line feed to `fd`, as two writes, retrying partial
// writes and EINTR. A write error (the host closed its end) abandons the line silently.
void writeReply(int fd, const Reply& reply);

}  // namespace talvori
