// SentenceDirection: one of the two directions the sentence engine translates, Chinese to English
// and English to Chinese. It names the direction as the model manifest does ("zh-Hans>en") and
// its model folder as the published models do ("zhen"), and says its languages.
#pragma once

#include <array>
#include <optional>
#include <string_view>

#include "queue/language.h"

namespace talvori {

class SentenceDirection {
 public:
  static constexpr SentenceDirection chineseToEnglish() { return SentenceDirection(Kind::zhEn); }
  static constexpr SentenceDirection englishToChinese() { return SentenceDirection(Kind::enZh); }

  // Both directions, Chinese to English first.
  static constexpr std::array<SentenceDirection, 2> all() {
    return {chineseToEnglish(), englishToChinese()};
  }

  // The direction the manifest names `name`, or none.
  static constexpr std::optional<SentenceDirection> named(std::string_view name) {
    for (SentenceDirection direction : all()) {
      if (direction.name() == name) return direction;
    }
    return std::nullopt;
  }

  // The manifest's key: "zh-Hans>en" or "en>zh-Hans".
  constexpr std::string_view name() const {
    return kind_ == Kind::zhEn ? "zh-Hans>en" : "en>zh-Hans";
  }
  // The model folder's name: "zhen" or "enzh".
  constexpr std::string_view folder() const { return kind_ == Kind::zhEn ? "zhen" : "enzh"; }

  Language source() const { return Language(kind_ == Kind::zhEn ? "zh-Hans" : "en"); }
  Language target() const { return Language(kind_ == Kind::zhEn ? "en" : "zh-Hans"); }

  friend constexpr bool operator==(SentenceDirection, SentenceDirection) = default;
  friend constexpr auto operator<=>(SentenceDirection, SentenceDirection) = default;

 private:
  enum class Kind { zhEn, enZh };
  constexpr explicit SentenceDirection(Kind kind) : kind_(kind) {}

  Kind kind_;
};

}  // namespace talvori
