// Language: a language as the queue and the services name it, by a canonical BCP 47 code.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace talvori {

// A language value holding a canonical BCP 47 code: "_" becomes "-", empty subtags are dropped,
// the language subtag is lower case, a four-letter script subtag title case and a two-letter
// region upper case. Two values are equal when they denote the same language, that is when their
// canonical codes are. The code is cut into its parts once, here; nothing else cuts codes.
class Language {
 public:
  explicit Language(std::string_view identifier);

  const std::string& code() const { return code_; }

  // The language subtag ("zh" of "zh-Hant-TW"), empty only for an empty code.
  std::string_view primary() const { return part(primary_); }
  // The script ("Hant"): the first four-letter subtag after the language and before the
  // region; empty when there is none.
  std::string_view script() const { return part(script_); }
  // The region ("TW", "419"): the first two-letter or three-digit subtag after the language;
  // empty when there is none.
  std::string_view region() const { return part(region_); }

  // The first non-empty piece of the identifier as it was given, cut at "-" only and in its own
  // letter case ("EN" of "EN-us", "en_US" of "en_US"): the queue's same-language test compares
  // these exactly, so it takes a language as the recogniser wrote it.
  const std::string& primaryAsWritten() const { return primaryAsWritten_; }

  friend bool operator==(const Language& a, const Language& b) { return a.code_ == b.code_; }

 private:
  struct Span {
    std::size_t at = 0;
    std::size_t size = 0;
  };
  std::string_view part(Span span) const {
    return std::string_view(code_).substr(span.at, span.size);
  }

  std::string code_;
  Span primary_, script_, region_;
  std::string primaryAsWritten_;
};

}  // namespace talvori
