// Language values: canonical codes, equality, and the parts a code is cut into.
#include "queue/language.h"

#include <string>

#include <gtest/gtest.h>

namespace talvori {
namespace {

TEST(Language, EqualWhenTheCanonicalCodesAre) {
  EXPECT_EQ(Language("zh-hans"), Language("zh-Hans"));
  EXPECT_EQ(Language("EN_us").code(), "en-US");
  EXPECT_EQ(Language("sr-latn-rs").code(), "sr-Latn-RS");
  EXPECT_EQ(Language("--fr--CA-").code(), "fr-CA");
  EXPECT_NE(Language("zh-Hans"), Language("zh-Hant"));
  EXPECT_NE(Language("en"), Language("en-US"));
}

// The primary subtag is the first non-empty piece; the script a four-letter subtag before the
// region; the region two letters or three digits, the first after the primary subtag.
TEST(Language, CutsTheCodeIntoItsPartsOnce) {
  struct Case {
    std::string identifier, primary, script, region;
  };
  const Case cases[] = {
      {"zh-Hans", "zh", "Hans", ""},
      {"ZH_hant_tw", "zh", "Hant", "TW"},
      {"zh-HK", "zh", "", "HK"},
      {"es-419", "es", "", "419"},
      {"--fr-CA", "fr", "", "CA"},
      {"en", "en", "", ""},
      {"sr-Latn-RS-x-Cyrl", "sr", "Latn", "RS"},
      {"de-CH-1901", "de", "", "CH"},
      {"zh-TW-Hant", "zh", "", "TW"},
      {"zh-yue", "zh", "", ""},
      {"", "", "", ""},
      {"---", "", "", ""},
  };
  for (const Case& c : cases) {
    const Language language(c.identifier);
    EXPECT_EQ(language.primary(), c.primary) << c.identifier;
    EXPECT_EQ(language.script(), c.script) << c.identifier;
    EXPECT_EQ(language.region(), c.region) << c.identifier;
  }
  // The parts belong to the value: a copy keeps its own.
  Language copy = Language("zh-Hant-HK");
  {
    const Language other("en-GB");
    copy = other;
  }
  EXPECT_EQ(copy.region(), "GB");
}

// The same-language test takes the primary subtag as the recogniser wrote it: cut at "-" only,
// in its own case.
TEST(Language, KeepsThePrimarySubtagAsWritten) {
  EXPECT_EQ(Language("EN-us").primaryAsWritten(), "EN");
  EXPECT_EQ(Language("--zh-Hant").primaryAsWritten(), "zh");
  EXPECT_EQ(Language("en_US").primaryAsWritten(), "en_US");
  EXPECT_EQ(Language("---").primaryAsWritten(), "");
}

}  // namespace
}  // namespace talvori
