#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/recogniser/word_filter.h"
#include "tools/word_filters/affix_expander.h"
#include "tools/word_filters/word_filter_builder.h"

namespace talvori {
namespace {

// A dictionary in the spelling checkers' format with two-letter flags, lines ending in CR LF, a
// cross product, a continuation suffix, an elided article, a circumfix, and stems that are names,
// forbidden, or need an affix.
constexpr char kAffix[] =
    "SET UTF-8\nFLAG long\nNEEDAFFIX Nn\nFORBIDDENWORD Zz\nCIRCUMFIX Cx\n"
    "PFX Lp Y 1\nPFX Lp 0 l' [aeiou]\n"
    "PFX Re Y 1\nPFX Re 0 re .\n"
    "SFX Sa Y 2\nSFX Sa 0 s [^s]\nSFX Sa 0 es s\n"
    "SFX Pr Y 1\nSFX Pr ar ando/Cl ar\n"
    "SFX Cl Y 1\nSFX Cl 0 lo .\n"
    "PFX Gp Y 1\nPFX Gp 0 ge/Cx .\n"
    "SFX Gs Y 1\nSFX Gs en t/Cx en\n";
constexpr char kStems[] =
    "9\r\ncasa/SaRe\r\nbus/Sa\r\ncantar/Pr\r\namigo/LpSa\r\nMadrid/Sa\r\nraíz/NnSa\r\n"
    "malo/Zz\r\nsagen/GpGs\r\ntothom\r\n";

class AffixExpanderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ =
        std::filesystem::temp_directory_path() / ("talvori-affixes-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    std::ofstream(dir_ / "test.aff") << kAffix;
    std::ofstream(dir_ / "test.dic") << kStems;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::vector<std::string> expand(const ExpansionOptions& options = {}) {
    return expandDictionary(dir_ / "test.aff", dir_ / "test.dic", options);
  }

  std::filesystem::path dir_;
};

TEST_F(AffixExpanderTest, ExpandsStemsByTheirRules) {
  const std::vector<std::string> expected = {
      "amigo", "amigos", "buses", "bus",   "cantando", "cantandolo", "cantar", "casa",
      "casas", "gesagt", "l'",    "raízs", "recasa",   "recasas",    "sagen",  "tothom"};
  std::vector<std::string> sorted = expected;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(expand(), sorted);
}

TEST_F(AffixExpanderTest, OptionsLimitTheForms) {
  ExpansionOptions capitals;
  capitals.keepCapitalised = true;
  const std::vector<std::string> withNames = expand(capitals);
  EXPECT_TRUE(std::ranges::count(withNames, "madrid") == 1 &&
              std::ranges::count(withNames, "madrids") == 1);

  ExpansionOptions oneLevel;
  oneLevel.oneLevel = true;
  EXPECT_EQ(std::ranges::count(expand(oneLevel), "cantandolo"), 0);

  ExpansionOptions shortAffixes;
  shortAffixes.maxAdd = 2;  // "ando" is left out, and "lo" with it
  const std::vector<std::string> forms = expand(shortAffixes);
  EXPECT_EQ(std::ranges::count(forms, "cantando"), 0);
  EXPECT_EQ(std::ranges::count(forms, "recasas"), 1);

  ExpansionOptions stems;
  stems.stemsOnly = true;
  EXPECT_EQ(expand(stems), (std::vector<std::string>{"amigo", "bus", "cantar", "casa", "l'", "raíz",
                                                     "sagen", "tothom"}));

  ExpansionOptions longOnes;
  longOnes.minLength = 7;
  EXPECT_EQ(expand(longOnes),
            (std::vector<std::string>{"cantando", "cantandolo", "l'", "recasas"}));
}

TEST(WordFilterTest, BuiltFiltersFindTheirWordsAndFewOthers) {
  WordFilterSource small{"xx", 16, {}};
  WordFilterSource large{"yy", 10, {}};
  for (int i = 0; i < 5000; ++i) small.words.insert("word" + std::to_string(i));
  for (int i = 0; i < 20000; ++i) large.words.insert("mot" + std::to_string(i));
  const std::string file = buildWordFilters({small, large});

  const std::optional<WordFilter> xx = findWordFilter(file, "xx");
  const std::optional<WordFilter> yy = findWordFilter(file, "yy");
  ASSERT_TRUE(xx && yy);
  EXPECT_FALSE(findWordFilter(file, "zz"));
  for (const std::string& w : small.words) ASSERT_TRUE(xx->contains(w)) << w;
  for (const std::string& w : large.words) ASSERT_TRUE(yy->contains(w)) << w;
  int falseInSmall = 0;
  int falseInLarge = 0;
  for (int i = 0; i < 20000; ++i) {
    falseInSmall += xx->contains("other" + std::to_string(i));
    falseInLarge += yy->contains("other" + std::to_string(i));
  }
  EXPECT_LT(falseInSmall, 20000 / 500);  // under 0.2% at 16 bits a word
  EXPECT_LT(falseInLarge, 20000 / 40);   // under 2.5% at 10 bits a word
  EXPECT_FALSE(xx->contains(""));

  // A damaged file gives no filter rather than reading past its end.
  EXPECT_FALSE(findWordFilter(std::string_view(file).substr(0, file.size() - 1), "yy"));
  EXPECT_FALSE(findWordFilter("TVWORDS0", "xx"));
}

}  // namespace
}  // namespace talvori
