#include "platform/apertium/apertium_text_format.h"

#include <cstddef>

#include "base/utf8.h"

namespace talvori {

namespace {

// The characters the stream format reserves; the text escapes them with a backslash.
bool isEscaped(char c) {
  switch (c) {
    case '[':
    case ']':
    case '\\':
    case '/':
    case '@':
    case '<':
    case '>':
    case '^':
    case '$':
    case '{':
    case '}':
      return true;
    default:
      return false;
  }
}

bool isSpace(char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r'; }

// Length of the sentence-end blank run at `at`: repeated "\n\n" or "\r\n\r\n", longest first.
std::size_t blankLinesAt(std::string_view text, std::size_t at) {
  std::size_t end = at;
  while (true) {
    const std::string_view rest = text.substr(end);
    if (rest.starts_with("\n\n")) {
      end += 2;
    } else if (rest.starts_with("\r\n\r\n")) {
      end += 4;
    } else {
      return end - at;
    }
  }
}

class Deformatter {
 public:
  std::string run(std::string_view text) {
    out_.reserve(text.size() + text.size() / 4 + 16);
    std::size_t i = 0;
    while (i < text.size()) {
      const char c = text[i];
      if (const std::size_t blank = blankLinesAt(text, i); blank > 0) {
        sentenceEnd_ = true;
        blanks_.append(text.substr(i, blank));
        i += blank;
      } else if (isSpace(c)) {
        blanks_ += c;
        ++i;
      } else if (c == '\0') {
        ++i;
      } else if (isEscaped(c)) {
        flush();
        out_ += '\\';
        out_ += c;
        ++i;
      } else {
        flush();
        const std::size_t start = i;
        if (decodeUtf8(text, i) == kIllFormed) {
          out_ += '?';
          i = start + 1;
        } else {
          out_.append(text.substr(start, i - start));
        }
      }
    }
    sentenceEnd_ = true;
    flush();
    return std::move(out_);
  }

 private:
  // Writes the pending sentence-end mark and white space before the next visible character.
  void flush() {
    if (sentenceEnd_) {
      out_ += ".[]";
      sentenceEnd_ = false;
    }
    if (blanks_.size() > 1 || (blanks_.size() == 1 && blanks_[0] != ' ')) {
      out_ += '[';
      out_ += blanks_;
      out_ += ']';
    } else {
      out_ += blanks_;
    }
    blanks_.clear();
  }

  std::string out_;
  std::string blanks_;
  bool sentenceEnd_ = false;
};

// The end of the superblank starting at `at` (just past its "]"), or the stream's end.
std::size_t superblankEnd(std::string_view stream, std::size_t at) {
  for (std::size_t i = at + 1; i < stream.size(); ++i) {
    if (stream[i] == '\\') {
      ++i;
    } else if (stream[i] == ']') {
      return i + 1;
    }
  }
  return stream.size();
}

// Whether a piece may start with the byte at `at`: an ASCII capital or any non-ASCII character
// (accented capitals, "¿", "¡").
bool startsSentence(std::string_view stream, std::size_t at) {
  if (at >= stream.size()) return false;
  const auto c = static_cast<unsigned char>(stream[at]);
  return (c >= 'A' && c <= 'Z') || c >= 0xC2;
}

}  // namespace

std::vector<std::string_view> splitStream(std::string_view stream, std::size_t pieceSize) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  std::size_t i = 0;
  while (i < stream.size()) {
    const char c = stream[i];
    if (c == '\\') {
      i += 2;
    } else if (c == '[') {
      i = superblankEnd(stream, i);
    } else if (c == '.' || c == '!' || c == '?') {
      std::size_t j = i + 1;
      while (j < stream.size()) {
        if (stream[j] == ' ') {
          ++j;
        } else if (stream.substr(j).starts_with(".[]")) {
          j += 3;
        } else if (stream[j] == '[') {
          j = superblankEnd(stream, j);
        } else {
          break;
        }
      }
      if (j > i + 1 && j - start >= pieceSize && startsSentence(stream, j)) {
        pieces.push_back(stream.substr(start, j - start));
        start = j;
      }
      i = j;
    } else {
      ++i;
    }
  }
  if (start < stream.size() || pieces.empty()) pieces.push_back(stream.substr(start));
  return pieces;
}

std::string deformatText(std::string_view text) { return Deformatter().run(text); }

std::string reformatText(std::string_view stream) {
  std::string out;
  out.reserve(stream.size());
  std::size_t i = 0;
  while (i < stream.size()) {
    const std::string_view rest = stream.substr(i);
    const char c = stream[i];
    if (rest.starts_with(".[]")) {
      i += 3;
    } else if (rest.starts_with("[\\@")) {
      out += '@';
      i += 3;
    } else if (c == '[' || c == ']') {
      ++i;
    } else if (c == '\\' && rest.size() > 1 && isEscaped(rest[1])) {
      out += rest[1];
      i += 2;
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

}  // namespace talvori
