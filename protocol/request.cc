#include "protocol/request.h"

#include <cstddef>
#include <string>
#include <vector>

#include "base/utf8.h"

namespace talvori {

std::string_view keyString(Request::CodingKeys key) {
  switch (key) {
    case Request::CodingKeys::id:
      return "id";
    case Request::CodingKeys::text:
      return "text";
    case Request::CodingKeys::target:
      return "target";
  }
  return {};
}

Target targetNamed(std::string_view code) {
  if (code == "auto") return Target::automatic;
  if (code == "en") return Target::english;
  if (code == "zh-Hans") return Target::simplifiedChinese;
  return Target::unsupported;
}

std::optional<Request::CodingKeys> requestKey(std::string_view key) {
  for (auto k : {Request::CodingKeys::id, Request::CodingKeys::text, Request::CodingKeys::target}) {
    if (keyString(k) == key) return k;
  }
  return std::nullopt;
}

namespace {

// A strict JSON reader for one request line (RFC 8259), built for this one shape: it decodes the
// three members it needs and validates everything else without building anything, in time and
// memory linear in the line. Nested values are skipped with an explicit stack, so depth costs a
// bit per level, not a stack frame.
//
// Two departures from a plain validating parser, both for text that is valid JSON: numbers are
// only checked against the grammar (a member holding 1e400 is as ignorable as one holding 1), and
// an escaped surrogate without its partner decodes as U+FFFD, as an ill-formed byte sequence
// does. Bytes that are not UTF-8 make the line invalid outside strings and become U+FFFD inside
// them, each maximal ill-formed subpart once.
class RequestParser {
 public:
  explicit RequestParser(std::string_view line) : s_(line) {}

  std::optional<Request> parse() {
    if (s_.starts_with("\xEF\xBB\xBF")) i_ = 3;  // a byte order mark before the value
    skipSpace();
    if (!consume('{')) return std::nullopt;
    skipSpace();
    if (!consume('}')) {
      do {
        skipSpace();
        std::string key;
        if (!readString(&key)) return std::nullopt;
        skipSpace();
        if (!consume(':')) return std::nullopt;
        skipSpace();
        if (!member(requestKey(key))) return std::nullopt;
        skipSpace();
      } while (consume(','));
      if (!consume('}')) return std::nullopt;
    }
    skipSpace();
    if (i_ != s_.size() || !(have_[0] && have_[1] && have_[2])) return std::nullopt;
    return std::move(request_);
  }

 private:
  // A member of the request object. One of ours holding a string is taken (a later occurrence
  // overrides it); holding anything else, it is unset, so the last occurrence decides.
  bool member(std::optional<Request::CodingKeys> key) {
    if (!key) return skipValue();
    const auto index = static_cast<std::size_t>(*key);
    if (peek() != '"') {
      have_[index] = false;
      return skipValue();
    }
    if (*key == Request::CodingKeys::target) {
      std::string target;
      have_[index] = readString(&target);
      request_.target = targetNamed(target);
      return have_[index];
    }
    std::string& field = *key == Request::CodingKeys::id ? request_.id : request_.text;
    field.clear();
    have_[index] = readString(&field);
    return have_[index];
  }

  char peek() const { return i_ < s_.size() ? s_[i_] : '\0'; }

  bool consume(char c) {
    if (i_ < s_.size() && s_[i_] == c) {
      ++i_;
      return true;
    }
    return false;
  }

  void skipSpace() {
    while (i_ < s_.size() &&
           (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\n' || s_[i_] == '\r')) {
      ++i_;
    }
  }

  // Validates a value of any kind and moves past it.
  bool skipValue() {
    std::vector<bool> open;  // the containers around the current value: true for an object
    for (;;) {
      // A value starts here.
      skipSpace();
      const char c = peek();
      if (c == '{' || c == '[') {
        ++i_;
        skipSpace();
        if (consume(c == '{' ? '}' : ']')) {
          // An empty container is a complete value.
        } else {
          open.push_back(c == '{');
          if (c == '{' && !memberName()) return false;
          continue;
        }
      } else if (!skipScalar()) {
        return false;
      }
      // A value has ended: close containers, or go on to the next element.
      for (;;) {
        if (open.empty()) return true;
        skipSpace();
        if (consume(',')) {
          if (open.back() && !memberName()) return false;
          break;
        }
        if (!consume(open.back() ? '}' : ']')) return false;
        open.pop_back();
      }
    }
  }

  // A member name and its colon, inside a skipped object.
  bool memberName() {
    skipSpace();
    if (!readString(nullptr)) return false;
    skipSpace();
    return consume(':');
  }

  bool skipScalar() {
    switch (peek()) {
      case '"':
        return readString(nullptr);
      case 't':
        return literal("true");
      case 'f':
        return literal("false");
      case 'n':
        return literal("null");
      default:
        return skipNumber();
    }
  }

  bool literal(std::string_view word) {
    if (s_.substr(i_, word.size()) != word) return false;
    i_ += word.size();
    return true;
  }

  bool digits() {
    const std::size_t start = i_;
    while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') ++i_;
    return i_ > start;
  }

  // -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?, whatever its magnitude.
  bool skipNumber() {
    consume('-');
    if (!consume('0') && !(peek() >= '1' && peek() <= '9' && digits())) return false;
    if (consume('.') && !digits()) return false;
    if (peek() == 'e' || peek() == 'E') {
      ++i_;
      if (!consume('+')) consume('-');
      if (!digits()) return false;
    }
    return true;
  }

  static int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  // The four hex digits of a \u escape at `at` (just past the "u"), or -1.
  int hexQuad(std::size_t at) const {
    if (at + 4 > s_.size()) return -1;
    int value = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      const int digit = hexValue(s_[at + k]);
      if (digit < 0) return -1;
      value = value * 16 + digit;
    }
    return value;
  }

  // Reads the string at the current position into `out` (when given), sized exactly by a first
  // pass, so that a huge string costs its own size once.
  bool readString(std::string* out) {
    if (!consume('"')) return false;
    const std::size_t start = i_;
    std::size_t size = 0;
    if (!scanString(nullptr, size)) return false;
    if (out == nullptr) return true;
    out->reserve(out->size() + size);
    i_ = start;
    std::size_t again = 0;
    return scanString(out, again);
  }

  // Walks a string's contents up to and past its closing quote, counting the decoded bytes in
  // `size` and appending them to `out` when given.
  bool scanString(std::string* out, std::size_t& size) {
    static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    const auto emit = [&](std::string_view bytes) {
      size += bytes.size();
      if (out != nullptr) out->append(bytes);
    };
    for (;;) {
      // A run of bytes that stand for themselves.
      const std::size_t run = i_;
      while (i_ < s_.size()) {
        const auto b = static_cast<unsigned char>(s_[i_]);
        if (b == '"' || b == '\\' || b < 0x20 || b >= 0x80) break;
        ++i_;
      }
      emit(s_.substr(run, i_ - run));
      if (i_ >= s_.size()) return false;
      const auto b = static_cast<unsigned char>(s_[i_]);
      if (b == '"') {
        ++i_;
        return true;
      }
      if (b < 0x20) return false;
      if (b >= 0x80) {
        const std::size_t begin = i_;
        if (decodeUtf8(s_, i_) == kIllFormed) {
          emit(kReplacement);
        } else {
          emit(s_.substr(begin, i_ - begin));
        }
        continue;
      }
      // An escape.
      if (++i_ >= s_.size()) return false;
      const char e = s_[i_++];
      char simple = 0;
      switch (e) {
        case '"':
        case '\\':
        case '/':
          simple = e;
          break;
        case 'b':
          simple = '\b';
          break;
        case 'f':
          simple = '\f';
          break;
        case 'n':
          simple = '\n';
          break;
        case 'r':
          simple = '\r';
          break;
        case 't':
          simple = '\t';
          break;
        case 'u':
          break;
        default:
          return false;
      }
      if (simple != 0) {
        emit(std::string_view(&simple, 1));
        continue;
      }
      int unit = hexQuad(i_);
      if (unit < 0) return false;
      i_ += 4;
      char32_t c = static_cast<char32_t>(unit);
      if (unit >= 0xD800 && unit <= 0xDBFF) {
        // A high surrogate takes the low surrogate escaped right after it; alone it stands for
        // U+FFFD, and whatever follows is read on its own.
        const int low = s_.substr(i_, 2) == "\\u" ? hexQuad(i_ + 2) : -1;
        if (low >= 0xDC00 && low <= 0xDFFF) {
          c = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) +
              (static_cast<char32_t>(low) - 0xDC00);
          i_ += 6;
        } else {
          c = 0xFFFD;
        }
      } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
        c = 0xFFFD;
      }
      std::string encoded;
      appendUtf8(c, encoded);
      emit(encoded);
    }
  }

  std::string_view s_;
  std::size_t i_ = 0;
  Request request_;
  bool have_[3] = {false, false, false};
};

}  // namespace

std::optional<Request> decodeRequest(std::string_view line) { return RequestParser(line).parse(); }

}  // namespace talvori
