#include "queue/language.h"

#include <cctype>
#include <cstddef>

namespace talvori {

std::string_view primarySubtag(std::string_view code) {
  std::size_t start = 0;
  while (start < code.size()) {
    std::size_t end = code.find('-', start);
    if (end == std::string_view::npos) end = code.size();
    if (end > start) return code.substr(start, end - start);
    start = end + 1;
  }
  return {};
}

namespace {

char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }
char upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

bool allAlpha(std::string_view s) {
  for (char c : s) {
    if (!std::isalpha(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

}  // namespace

Language::Language(std::string_view identifier) {
  code_.reserve(identifier.size());
  std::size_t index = 0;  // position of the subtag among the non-empty ones
  std::size_t start = 0;
  while (start <= identifier.size()) {
    std::size_t end = identifier.find_first_of("-_", start);
    if (end == std::string_view::npos) end = identifier.size();
    std::string_view piece = identifier.substr(start, end - start);
    if (!piece.empty()) {
      if (!code_.empty()) code_ += '-';
      const bool script = index > 0 && piece.size() == 4 && allAlpha(piece);
      const bool region = index > 0 && piece.size() == 2 && allAlpha(piece);
      for (std::size_t i = 0; i < piece.size(); ++i) {
        if (region || (script && i == 0)) {
          code_ += upper(piece[i]);
        } else {
          code_ += lower(piece[i]);
        }
      }
      ++index;
    }
    start = end + 1;
  }
}

}  // namespace talvori
