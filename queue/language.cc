#include "queue/language.h"

#include <algorithm>
#include <cctype>
#include <cstddef>

namespace talvori {

namespace {

char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }
char upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

bool all(std::string_view s, int (*test)(int)) {
  for (char c : s) {
    if (!test(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

}  // namespace

Language::Language(std::string_view identifier) {
  for (std::size_t start = 0; start < identifier.size() && primaryAsWritten_.empty();) {
    const std::size_t end = std::min(identifier.find('-', start), identifier.size());
    primaryAsWritten_ = identifier.substr(start, end - start);
    start = end + 1;
  }
  code_.reserve(identifier.size());
  std::size_t index = 0;  // position of the subtag among the non-empty ones
  std::size_t start = 0;
  while (start <= identifier.size()) {
    std::size_t end = identifier.find_first_of("-_", start);
    if (end == std::string_view::npos) end = identifier.size();
    const std::string_view piece = identifier.substr(start, end - start);
    if (!piece.empty()) {
      if (!code_.empty()) code_ += '-';
      const Span span{code_.size(), piece.size()};
      const bool letters = all(piece, std::isalpha);
      const bool script = index > 0 && piece.size() == 4 && letters;
      const bool region = index > 0 && piece.size() == 2 && letters;
      for (std::size_t i = 0; i < piece.size(); ++i) {
        if (region || (script && i == 0)) {
          code_ += upper(piece[i]);
        } else {
          code_ += lower(piece[i]);
        }
      }
      if (index == 0) {
        primary_ = span;
      } else if (region_.size == 0) {
        if (script && script_.size == 0) {
          script_ = span;
        } else if (region || (piece.size() == 3 && all(piece, std::isdigit))) {
          region_ = span;
        }
      }
      ++index;
    }
    start = end + 1;
  }
}

}  // namespace talvori
