#include "platform/recogniser/script_census.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

namespace talvori {
namespace {

std::optional<std::string> eastAsian(std::string_view text) {
  return eastAsianLanguage(text, takeScriptCensus(text));
}

TEST(ScriptCensusTest, CountsLettersByScriptAndFlagsWhatCld2StopsAt) {
  const ScriptCensus mixed = takeScriptCensus("Hello мир 电脑 ー");
  EXPECT_EQ(mixed.letters[USCRIPT_LATIN], 5);
  EXPECT_EQ(mixed.letters[USCRIPT_CYRILLIC], 3);
  EXPECT_EQ(mixed.letters[USCRIPT_HAN], 2);
  EXPECT_EQ(mixed.letters[USCRIPT_KATAKANA], 1);  // the prolonged sound mark counts as kana
  EXPECT_EQ(mixed.strongest, USCRIPT_LATIN);
  EXPECT_FALSE(mixed.needsCleaning);

  EXPECT_FALSE(takeScriptCensus("12345 !!! 😀 →").hasLetters);
  EXPECT_TRUE(takeScriptCensus("abc\xff").needsCleaning);
  EXPECT_TRUE(takeScriptCensus("abc\x01").needsCleaning);
  EXPECT_TRUE(takeScriptCensus("abc\xef\xbf\xbe").needsCleaning);  // a noncharacter
  EXPECT_FALSE(takeScriptCensus("a\tb\r\nc\f").needsCleaning);
}

TEST(ScriptCensusTest, ScriptsAloneSettleEastAsianText) {
  const std::vector<std::pair<std::string_view, std::optional<std::string>>> cases = {
      {"你好，世界", "zh-Hans"},
      {"電腦", "zh-Hant"},
      {"  \n人\t", "zh-Hans"},  // only shared characters
      {"这是電", "zh-Hans"},    // a tie goes to Simplified
      {"ㄅㄆㄇ", "zh-Hant"},    // Bopomofo counts for Traditional
      {"日本語の文章", "ja"},   // any kana makes Japanese, even amid Han
      {"ｺﾝﾋﾟｭｰﾀｰ", "ja"},
      {"大韓民國 만세", "ko"},  // Hangul makes Korean, Hanja or not
      // An East Asian character weighs as much as three letters.
      {"我买了一台iPhone手机", "zh-Hans"},
      {"ファイルを開く (open a file)", "ja"},
      {"I left my 电脑 at the office yesterday", std::nullopt},
      {"Hello world", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [text, language] : cases) {
    EXPECT_EQ(eastAsian(text), language) << "text: \"" << text << "\"";
  }
}

// Letters only Esperanto writes call a text Esperanto when they are a fair share of its letters,
// not when a name or a quoted word brings one into another language.
TEST(ScriptCensusTest, LettersOnlyEsperantoWritesMakeEsperanto) {
  const std::vector<std::pair<std::string_view, std::optional<std::string>>> cases = {
      {"La hundo manĝas la pomon.", "eo"},
      {"Mi ŝatas legi librojn ĉiutage en la biblioteko.", "eo"},
      {"ĈU VI VENOS MORGAŬ?", "eo"},
      {"Der Verein heißt Ĉiuj Kune und trifft sich jeden Montag in der Stadthalle.", std::nullopt},
      {"La perro come la manzana.", std::nullopt},
      {"你好", std::nullopt},
  };
  for (const auto& [text, language] : cases) {
    EXPECT_EQ(languageOfOwnLetters(takeScriptCensus(text)), language) << "text: \"" << text << "\"";
  }
}

}  // namespace
}  // namespace talvori
