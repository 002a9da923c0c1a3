// The English lexicon read from the system's WordNet and word list, as the index tool reads them:
// inflected forms reach their real base forms, and the tagged corpus says which words are
// mostly verbs.
#include "tools/dictionary_index/english_lexicon.h"

#include <algorithm>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace talvori {
namespace {

class EnglishLexiconTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    lexicon_ = new EnglishLexicon(
        readEnglishLexicon("/usr/share/wordnet", "/usr/share/dict/american-english"));
    forms_ =
        new std::unordered_map<std::string, std::vector<InflectedForm>>(inflectedForms(*lexicon_));
  }
  static void TearDownTestSuite() {
    delete forms_;
    delete lexicon_;
  }

  // Whether `form` is an inflected form of `base` with `inflection`.
  static bool isForm(const std::string& form, const std::string& base, Inflection inflection) {
    const auto found = forms_->find(base);
    if (found == forms_->end()) return false;
    return std::any_of(found->second.begin(), found->second.end(), [&](const InflectedForm& f) {
      return f.form == form && f.inflection == inflection;
    });
  }

  static EnglishLexicon* lexicon_;
  static std::unordered_map<std::string, std::vector<InflectedForm>>* forms_;
};

EnglishLexicon* EnglishLexiconTest::lexicon_ = nullptr;
std::unordered_map<std::string, std::vector<InflectedForm>>* EnglishLexiconTest::forms_ = nullptr;

TEST_F(EnglishLexiconTest, FormsReachTheirBaseForms) {
  EXPECT_TRUE(isForm("files", "file", Inflection::plural));
  EXPECT_TRUE(isForm("boxes", "box", Inflection::plural));
  EXPECT_TRUE(isForm("entries", "entry", Inflection::plural));
  EXPECT_TRUE(isForm("theses", "thesis", Inflection::plural));
  EXPECT_TRUE(isForm("aligned", "align", Inflection::past));
  EXPECT_TRUE(isForm("discovered", "discover", Inflection::past));
  EXPECT_TRUE(isForm("saved", "save", Inflection::past));
  EXPECT_TRUE(isForm("copied", "copy", Inflection::past));
  EXPECT_TRUE(isForm("clipped", "clip", Inflection::past));
  EXPECT_TRUE(isForm("sent", "send", Inflection::past));
  EXPECT_TRUE(isForm("opening", "open", Inflection::presentParticiple));
  EXPECT_TRUE(isForm("writing", "write", Inflection::presentParticiple));
  // A form of two bases belongs to both.
  EXPECT_TRUE(isForm("leaves", "leaf", Inflection::plural));
  EXPECT_TRUE(isForm("found", "find", Inflection::past));
}

TEST_F(EnglishLexiconTest, NoLookAlikes) {
  // "theses" is no plural of "these", nor "news" of "new"; "writed" is no word.
  EXPECT_FALSE(isForm("theses", "these", Inflection::plural));
  EXPECT_FALSE(isForm("news", "new", Inflection::plural));
  EXPECT_FALSE(isForm("writed", "write", Inflection::past));
  // Third persons are no forms that an answer takes.
  EXPECT_FALSE(isForm("opens", "open", Inflection::past));
}

TEST_F(EnglishLexiconTest, TheTaggedCorpusTellsMostlyVerbs) {
  EXPECT_TRUE(mostlyVerb(*lexicon_, "cut"));
  EXPECT_TRUE(mostlyVerb(*lexicon_, "save"));
  EXPECT_TRUE(mostlyVerb(*lexicon_, "open"));
  EXPECT_FALSE(mostlyVerb(*lexicon_, "view"));
  EXPECT_FALSE(mostlyVerb(*lexicon_, "close"));
  EXPECT_FALSE(mostlyVerb(*lexicon_, "level"));
}

TEST_F(EnglishLexiconTest, MeaningsAreSharedSimilarOrDerived) {
  // One synset; similar adjectives; a noun derived from a verb; verbs one of which is a way of
  // doing the other.
  EXPECT_TRUE(synonymous(*lexicon_, "cause", "reason", 5));
  EXPECT_TRUE(synonymous(*lexicon_, "ancient", "old", 5));
  EXPECT_TRUE(synonymous(*lexicon_, "die", "death", 5));
  EXPECT_TRUE(synonymous(*lexicon_, "exchange", "swap", 5));
  // Different meanings: a car is no bus, discussing is no reason.
  EXPECT_FALSE(synonymous(*lexicon_, "car", "bus", 5));
  EXPECT_FALSE(synonymous(*lexicon_, "discuss", "reason", 5));
  EXPECT_FALSE(synonymous(*lexicon_, "chairman", "speaker", 5));
  // Only the commoner meanings count: "send" and "commit" share a synset in rarer ones.
  EXPECT_FALSE(synonymous(*lexicon_, "send", "commit", 5));
}

TEST_F(EnglishLexiconTest, TheTaggedCorpusTellsMostlyAdjectives) {
  EXPECT_TRUE(mostlyAdjective(*lexicon_, "special"));
  EXPECT_TRUE(mostlyAdjective(*lexicon_, "initial"));
  EXPECT_FALSE(mostlyAdjective(*lexicon_, "file"));
  EXPECT_FALSE(mostlyAdjective(*lexicon_, "setting"));
}

}  // namespace
}  // namespace talvori
