// Primary subtags and language equality.
#include "queue/language.h"

#include <gtest/gtest.h>

namespace talvori {
namespace {

TEST(PrimarySubtag, FirstNonEmptyPiece) {
  EXPECT_EQ(primarySubtag("zh-Hans"), "zh");
  EXPECT_EQ(primarySubtag("en"), "en");
  EXPECT_EQ(primarySubtag("--fr-CA"), "fr");
  EXPECT_EQ(primarySubtag(""), "");
  EXPECT_EQ(primarySubtag("---"), "");
}

TEST(Language, EqualWhenTheCanonicalCodesAre) {
  EXPECT_EQ(Language("zh-hans"), Language("zh-Hans"));
  EXPECT_EQ(Language("EN_us").code(), "en-US");
  EXPECT_EQ(Language("sr-latn-rs").code(), "sr-Latn-RS");
  EXPECT_NE(Language("zh-Hans"), Language("zh-Hant"));
  EXPECT_NE(Language("en"), Language("en-US"));
}

}  // namespace
}  // namespace talvori
