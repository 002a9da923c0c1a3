// Language codes as the queue sees them: plain BCP 47 text ("en", "zh-Hans").
#pragma once

#include <string>
#include <string_view>

namespace talvori {

// The first non-empty piece of `code` cut at "-", or an empty view when there is none
// ("zh-Hans" gives "zh", "-en" gives "en", "" and "--" give "").
std::string_view primarySubtag(std::string_view code);

// A language value holding a canonical BCP 47 code: "_" becomes "-", the language subtag is
// lower case, a four-letter script subtag title case and a two-letter region upper case. Two
// values are equal when they denote the same language, that is when their canonical codes are.
class Language {
 public:
  explicit Language(std::string_view identifier);

  const std::string& code() const { return code_; }
  friend bool operator==(const Language&, const Language&) = default;

 private:
  std::string code_;
};

}  // namespace talvori
