// Reply: one answer to a request, and its line encoding.
#pragma once

#include <string>
#include <string_view>

namespace talvori {

// A reply carries the id of the request it answers and exactly one of two members: the
// translated text on success, or a user-facing error message on failure.
class Reply {
 public:
  // The JSON member names of a reply, in the order they are written.
  enum class CodingKeys { id, text, error };

  static Reply success(std::string id, std::string text) {
    return Reply(std::move(id), std::move(text), false);
  }
  static Reply failure(std::string id, std::string_view error) {
    return Reply(std::move(id), std::string(error), true);
  }

  const std::string& id() const { return id_; }
  // The translated text, or null for a failure.
  const std::string* text() const { return failed_ ? nullptr : &body_; }
  // The error message, or null for a success.
  const std::string* error() const { return failed_ ? &body_ : nullptr; }

  friend bool operator==(const Reply&, const Reply&) = default;

 private:
  Reply(std::string id, std::string body, bool failed)
      : id_(std::move(id)), body_(std::move(body)), failed_(failed) {}

  std::string id_;
  std::string body_;
  bool failed_;
};

std::string_view keyString(Reply::CodingKeys key);

// Encodes a reply as one compact JSON object: id, then text or error. Strings are escaped as
// RFC 8259 requires (quotation mark, reverse solidus and characters below U+0020); bytes that are
// not valid UTF-8 are replaced by U+FFFD so that every reply can be written. The result holds no
// line feed. Appends to `out`.
void encodeReply(const Reply& reply, std::string& out);

}  // namespace talvori
