#include "platform/recogniser/cld2_detector.h"

#include <string>
#include <string_view>

#include <gtest/gtest.h>

namespace talvori {
namespace {

TEST(Cld2DetectorTest, CleaningReplacesWhatCld2StopsAtWithSpaces) {
  EXPECT_EQ(cleanForCld2("ab\x01"
                         "c\xff"
                         "d\xe7\x94"),
            "ab c d ");
  EXPECT_EQ(cleanForCld2("a\tb\nc é 电"), "a\tb\nc é 电");
  EXPECT_EQ(cleanForCld2("x\xef\xbf\xbey"), "x y");
}

TEST(Cld2DetectorTest, LongTextsAreSampledInWindowsThatStartAtWords) {
  const std::string shortText = "Der schnelle braune Fuchs";
  EXPECT_EQ(sampleForCld2(shortText), shortText);

  std::string text;
  while (text.size() < 200000) text += "über Wörter ";
  const std::string sample = sampleForCld2(text);
  EXPECT_LE(sample.size(), kCld2Budget + 16 * 40);  // each window may end up to a word later
  EXPECT_GE(sample.size(), kCld2Budget / 2);
  size_t lineStart = 0;
  while (lineStart < sample.size()) {
    const std::string_view window = std::string_view(sample).substr(lineStart);
    EXPECT_TRUE(window.starts_with("über ") || window.starts_with("Wörter "))
        << "window at " << lineStart << " starts mid-word";
    lineStart = sample.find('\n', lineStart) + 1;
  }
}

TEST(Cld2DetectorTest, AnswersAreBcp47AndInTheTextsScript) {
  EXPECT_EQ(askCld2("שלום עולם, מה שלומך היום", USCRIPT_HEBREW).answer, "he");  // CLD2's "iw"
  EXPECT_EQ(askCld2("Der Begriff bezeichnet eine Stadt in Japan", USCRIPT_LATIN).answer, "de");
  const Cld2Verdict nothing = askCld2("   ", USCRIPT_LATIN);
  EXPECT_EQ(nothing.answer, std::nullopt);
  for (const auto& proposal : nothing.proposals) EXPECT_EQ(proposal, std::nullopt);
}

}  // namespace
}  // namespace talvori
