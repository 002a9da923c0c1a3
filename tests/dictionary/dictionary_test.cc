// The dictionary engine on a tiny dictionary written here: cleaning of the dictionary's markup,
// the answers and their ranking, the service's delivery, and damaged index files.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include "base/utf8.h"
#include "platform/dictionary/dictionary_index.h"
#include "platform/dictionary/dictionary_service.h"
#include "platform/dictionary/dictionary_text.h"
#include "tests/fakes/manual_main_queue.h"
#include "tools/dictionary_index/dictionary_builder.h"

namespace talvori {
namespace {

namespace fs = std::filesystem;

std::vector<std::pair<std::string, GlossKind>> glossesOf(const std::string& sense) {
  std::vector<std::pair<std::string, GlossKind>> out;
  for (const Gloss& gloss : cleanSense(sense).glosses) out.emplace_back(gloss.text, gloss.kind);
  return out;
}

TEST(DictionaryCleaningTest, RemovesMarkupAndKeepsTheTranslation) {
  using G = std::vector<std::pair<std::string, GlossKind>>;
  const auto general = GlossKind::general, narrowed = GlossKind::narrowed,
             qualified = GlossKind::qualified, literal = GlossKind::literal;
  EXPECT_EQ(glossesOf("to kill two birds with one stone (idiom)"),
            (G{{"to kill two birds with one stone", general}}));
  EXPECT_EQ(glossesOf("lit. draw legs on a snake (idiom); fig. to ruin the effect by adding sth "
                      "superfluous"),
            (G{{"draw legs on a snake", literal},
               {"to ruin the effect by adding something superfluous", general}}));
  EXPECT_EQ(glossesOf("knife; blade (CL:把[ba3])"), (G{{"knife", general}, {"blade", general}}));
  EXPECT_EQ(glossesOf("to understand clearly (variant of 瞭|了[liao3])"),
            (G{{"to understand clearly", general}}));
  EXPECT_EQ(glossesOf("Fiji, a country in the southwest Pacific Ocean"), (G{{"Fiji", general}}));
  EXPECT_EQ(glossesOf("(of eyes) bright"), (G{{"bright", narrowed}}));
  EXPECT_EQ(glossesOf("(used with 得[de2] or 不[bu4] after a verb) able"), (G{{"able", narrowed}}));
  // Notes that open a sense mark all of its glosses; "(not)" would be lost, so its gloss goes.
  EXPECT_EQ(glossesOf("(literary) completely (not); entirely"), (G{{"entirely", qualified}}));
  EXPECT_EQ(glossesOf("Taiwan pr. [da3]"), G{});
  EXPECT_EQ(glossesOf("classifier for books"), G{});
  EXPECT_EQ(glossesOf("(completed action marker)"), G{});

  EXPECT_EQ(cleanSense("variant of 是[shi4]").reference, (Reference{"是", "shi4"}));
  EXPECT_EQ(cleanSense("old variant of 是[shi4]").reference, (Reference{"是", "shi4"}));
  EXPECT_EQ(cleanSense("see 打傘|打伞[da3 san3]").reference, (Reference{"打伞", "da3 san3"}));
  EXPECT_TRUE(cleanSense("see 打傘|打伞[da3 san3]").glosses.empty());
  const CleanSense abbreviation = cleanSense(
      "abbr. for 中國共產黨|中国共产党[Zhong1 guo2 Gong4 chan3 dang3], Chinese "
      "Communist Party");
  EXPECT_EQ(abbreviation.reference, (Reference{"中国共产党", "Zhong1 guo2 Gong4 chan3 dang3"}));
  EXPECT_EQ(abbreviation.glosses.size(), 1u);
  EXPECT_EQ(cleanSense("to understand clearly (variant of 瞭|了[liao3])").reference, std::nullopt);
}

TEST(DictionaryKeyTest, NormalisesWidthPunctuationAndCase) {
  EXPECT_EQ(chineseKey("  “电脑”。 "), "电脑");
  EXPECT_EQ(chineseKey("《红楼梦》"), "红楼梦");
  EXPECT_EQ(chineseKey("ＡＡ制"), "AA制");
  EXPECT_EQ(chineseKey("｢电脑｣"), "电脑");
  EXPECT_EQ(chineseKey("\xE7\x94"), "");
  EXPECT_EQ(englishKey("  The   Hague. "), "hague");
  EXPECT_EQ(englishKey("New \t York\n\nCity"), "new york city");
  EXPECT_EQ(englishKey("COMPUTER"), "computer");
  EXPECT_EQ(englishKey("Ｃｏｍｐｕｔｅｒ"), "computer");
  EXPECT_EQ(englishKey("To Run!"), "to run");
  EXPECT_EQ(englishKey("don’t"), "don't");
  EXPECT_EQ(englishKey("the"), "");
  EXPECT_EQ(englishKey("42"), "");
  // A quote after a leading article surrounds the rest too.
  EXPECT_EQ(englishKey("the \"Iliad\""), "iliad");
  EXPECT_EQ(englishKey("The \"Iliad\"."), "iliad");
}

// A dictionary of a few entries, written as an index file and served as the agent serves it.
class DictionaryServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::vector<DictionaryEntry> entries = {
        {"電腦", "电脑", "dian4 nao3", {"computer"}},
        {"計算機", "计算机", "ji4 suan4 ji1", {"computer", "calculator"}},
        {"電子計算機", "电子计算机", "dian4 zi3 ji4 suan4 ji1", {"electronic computer; computer"}},
        {"蘋果", "苹果", "Ping2 guo3", {"Apple (American tech company)"}},
        {"蘋果", "苹果", "ping2 guo3", {"apple"}},
        {"畫蛇添足",
         "画蛇添足",
         "hua4 she2 tian1 zu2",
         {"lit. draw legs on a snake (idiom); fig. to ruin the effect by adding sth superfluous",
          "to overdo it"}},
        {"是", "是", "shi4", {"to be (followed by substantives only)", "correct; right; true"}},
        {"昰", "是", "shi4", {"variant of 是[shi4]"}},
        {"病人", "病人", "bing4 ren2", {"sick person; patient; invalid"}},
        {"加", "加", "Jia1", {"Canada; abbr. for 加拿大[Jia1 na2 da4]"}},
        {"加拿大", "加拿大", "Jia1 na2 da4", {"Canada"}},
        {"德國", "德国", "De2 guo2", {"Germany"}},
        {"罕詞", "罕词", "han3 ci2", {"rare; scarce", "sparse", "infrequent"}},
        {"了", "了", "le5", {"(completed action marker)"}},
        {"過濾", "过滤", "guo4 lu:4", {"to filter"}},
        // Parts of speech: a verb gloss on a word mostly used as a noun, and a verb's forms.
        {"寫", "写", "xie3", {"to write"}},
        {"著作", "著作", "zhu4 zuo4", {"to write", "literary work", "writings"}},
        {"警告", "警告", "jing3 gao4", {"to warn; to admonish", "warning"}},
        {"預警", "预警", "yu4 jing3", {"warning", "early warning"}},
        {"打開", "打开", "da3 kai1", {"to open", "to turn on"}},
        {"其中", "其中", "qi2 zhong1", {"among", "in"}},
        {"附", "附", "fu4", {"to add; to attach; to be close to"}},
        // A language written with 语; a word in 文 that is no language.
        {"瑞典語", "瑞典语", "Rui4 dian3 yu3", {"Swedish (language)"}},
        {"國語", "国语", "guo2 yu3", {"national language"}},
        {"壯語", "壮语", "Zhuang4 yu3", {"Zhuang language"}},
        {"壯語", "壮语", "zhuang4 yu3", {"magnificent talk"}},
        // Rare words: one of a rare character, one of common ones, an idiom.
        {"祓飾", "祓饰", "fu2 shi4", {"to refresh", "to renew"}},
        {"重試", "重试", "chong2 shi4", {"to retry"}},
        {"未嘗不可", "未尝不可", "wei4 chang2 bu4 ke3", {"(idiom) acceptable; fine; okay"}},
        // Words about as common: of two meanings, or of one.
        {"圓柱", "圆柱", "yuan2 zhu4", {"column; cylinder"}},
        {"縱隊", "纵队", "zong4 dui4", {"column; file"}},
        {"區別", "区别", "qu1 bie2", {"difference; to distinguish"}},
        {"差別", "差别", "cha1 bie2", {"difference; distinction"}},
        // Headwords without Han characters, and a gloss with its name in quotes.
        {"88", "88", "ba1 ba1", {"bye-bye"}},
        {"110", "110", "yao1 yao1 ling2", {"the emergency number for law enforcement"}},
        {"伊利亞特", "伊利亚特", "Yi1 li4 ya4 te4", {"the \"Iliad\""}},
        {"咖啡館", "咖啡馆", "ka1 fei1 guan3", {"café"}},
    };
    const WordFrequencies frequencies = {
        {"电脑", 3427},  {"计算机", 6396}, {"电子计算机", 50}, {"苹果", 1334}, {"病人", 5000},
        {"加", 40000},   {"加拿大", 2000}, {"德国", 9604},     {"是", 796991}, {"画蛇添足", 150},
        {"过滤", 900},   {"写", 17024},    {"著作", 3447},     {"警告", 1153}, {"预警", 768},
        {"打开", 9000},  {"其中", 34173},  {"重", 20000},      {"试", 3723},   {"饰", 945},
        {"未尝不可", 3}, {"圆柱", 300},    {"咖啡馆", 200},    {"纵队", 280},  {"区别", 4000},
        {"差别", 3500}};
    const WordTags tags = {{"写", "v"},   {"著作", "n"}, {"警告", "n"}, {"预警", "vn"},
                           {"打开", "v"}, {"其中", "r"}, {"圆柱", "n"}, {"纵队", "n"},
                           {"区别", "n"}, {"差别", "n"}, {"过滤", "v"}};
    // The English words of these entries, with the forms that the tests ask for.
    EnglishLexicon lexicon;
    for (const char* noun : {"computer", "warning", "column", "difference", "in"}) {
      lexicon.lemmas[noun] |= static_cast<std::uint8_t>(PartOfSpeech::noun);
    }
    for (const char* verb : {"warn", "open", "filter", "write"}) {
      lexicon.lemmas[verb] |= static_cast<std::uint8_t>(PartOfSpeech::verb);
    }
    lexicon.words = {"computers", "warning",  "warnings", "opened",
                     "opening",   "filtered", "filters",  "ins"};
    const DictionaryAnswers answers = buildAnswers(entries, frequencies, tags, lexicon);
    write(encodeDictionaryIndex(answers.chinese, answers.english));
    service_ = makeDictionaryService(queue_, {dir_ / "missing.index", path_});
  }

  void TearDown() override { fs::remove_all(dir_); }

  void write(const std::string& bytes) {
    fs::create_directories(dir_);
    std::ofstream(path_, std::ios::binary | std::ios::trunc) << bytes;
  }

  std::optional<std::string> translate(const std::string& text, const char* from, const char* to) {
    std::optional<std::optional<std::string>> result;
    auto session = service_->makeSession(TranslationConfiguration(Language(from), Language(to)));
    session->translate(text, [&](std::optional<std::string> answer) { result = answer; });
    EXPECT_FALSE(result.has_value()) << "answered inside the call";
    queue_.runAll();
    EXPECT_TRUE(result.has_value()) << "never answered";
    return result.value_or(std::nullopt);
  }

  std::optional<AvailabilityStatus> statusFor(const std::string& text, const char* to) {
    std::optional<std::optional<AvailabilityStatus>> result;
    service_->makeAvailability()->statusFor(text, Language(to),
                                            [&](auto answer) { result = answer; });
    EXPECT_FALSE(result.has_value()) << "answered inside the call";
    queue_.runAll();
    return result.value_or(std::nullopt);
  }

  // For a pair, asked about a text the dictionary has no answer for: the answer is the pair's.
  AvailabilityStatus statusFrom(const char* from, const char* to) {
    std::optional<AvailabilityStatus> result;
    {
      auto availability = service_->makeAvailability();
      availability->statusFrom(Language(from), Language(to), "我今天很高兴见到你。",
                               [&](auto answer) { result = answer; });
    }
    EXPECT_FALSE(result.has_value()) << "answered inside the call";
    queue_.runAll();
    return result.value_or(AvailabilityStatus::supported);
  }

  const fs::path dir_ = fs::temp_directory_path() / ("dictionary_test_" + std::to_string(getpid()));
  const fs::path path_ = dir_ / "test.index";
  testing::ManualMainQueue queue_;
  std::unique_ptr<TranslationService> service_;
};

TEST(DictionaryKeyTest, DropsInvisibleCharactersAndFoldsEquivalentForms) {
  // A byte-order mark, zero-width space, joiners, word joiner, soft hyphen or control character
  // in or around a word.
  EXPECT_EQ(englishKey("\xEF\xBB\xBFSave"), "save");
  EXPECT_EQ(englishKey("Sa\xE2\x80\x8Bve"), "save");
  EXPECT_EQ(englishKey("Sa\xE2\x80\x8Cve\xE2\x80\x8D"), "save");
  EXPECT_EQ(englishKey("\xE2\x81\xA0Save\xE2\x81\xA0"), "save");
  EXPECT_EQ(englishKey("com\xC2\xADputer"), "computer");
  EXPECT_EQ(englishKey("\x01Save\x7F"), "save");
  EXPECT_EQ(chineseKey("\xEF\xBB\xBF电\xE2\x80\x8B脑\x02"), "电脑");
  // Accents written as combining marks are composed; a ligature is its letters.
  EXPECT_EQ(englishKey("Cafe\xCC\x81"), "caf\xC3\xA9");
  EXPECT_EQ(englishKey("\xEF\xAC\x81le"), "file");
  // A compatibility form that says something else is kept: "x²" is not "x2".
  EXPECT_EQ(englishKey("x\xC2\xB2"), "x\xC2\xB2");
  // A CJK compatibility ideograph is its unified character.
  EXPECT_EQ(chineseKey("\xEF\xA4\x80"), chineseKey("\xE8\xB1\x88"));
}

TEST(DictionaryKeyTest, ATextTooLongForAnyKeyHasNone) {
  // The longest key there can be is made; a text of more letters than that has none.
  const std::string longest(kLongestDictionaryKey, 'a');
  EXPECT_EQ(englishKey(longest), longest);
  EXPECT_EQ(englishKey("The " + longest), longest);
  const std::string han = "电";
  std::string longestHan;
  while (longestHan.size() + han.size() <= kLongestDictionaryKey) longestHan += han;
  EXPECT_EQ(chineseKey(longestHan), longestHan);
  std::string longHan;
  for (std::size_t i = 0; i < kLongestDictionaryKey + 4; ++i) longHan += han;
  EXPECT_EQ(chineseKey(longHan), "");
  // A long line, such as a 50 MB one a host might send, gives up at once.
  const std::string line(50 << 20, 'x');
  EXPECT_EQ(englishKey(line), "");
  EXPECT_EQ(chineseKey(line), "");
  // What a key drops does not count: surrounding spaces and punctuation, invisible characters.
  const std::string padding(1 << 20, ' ');
  EXPECT_EQ(englishKey(padding + "Save" + std::string(1 << 20, '.') + padding), "save");
  std::string spaced = "S";
  for (int i = 0; i < 5000; ++i) spaced += "\xE2\x80\x8B";  // zero-width spaces
  EXPECT_EQ(englishKey(spaced + "ave"), "save");
  // Hangul jamo compose into syllables, three into one: as many as fill the longest key.
  std::string jamo, syllables;
  for (std::size_t i = 0; i < kLongestDictionaryKey / 3; ++i) {
    jamo += "\xE1\x84\x80\xE1\x85\xA1\xE1\x86\xA8";  // U+1100 U+1161 U+11A8
    syllables += "\xEA\xB0\x81";                     // U+AC01
  }
  EXPECT_EQ(chineseKey(jamo), syllables);
  // One user-perceived character may carry any number of marks: past what a key could hold,
  // there is no key; a few marks compose as usual.
  std::string accents = "e";
  for (int i = 0; i < 5000; ++i) accents += "\xCC\x81";  // combining acute accent
  EXPECT_EQ(englishKey(accents), "");
  EXPECT_EQ(chineseKey(accents), "");
  EXPECT_EQ(englishKey("Cafe\xCC\x81"), "caf\xC3\xA9");
}

TEST(DictionaryKeyTest, TheBoundsOfTheCountsHold) {
  // No character composes from more than four code points, which the count of marks and
  // symbols relies on.
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* decomposed = icu::Normalizer2::getNFDInstance(status);
  ASSERT_TRUE(U_SUCCESS(status));
  // Below U+2E80 nothing folds into a Han character, so such a text has no Chinese key.
  for (UChar32 c = 0; c <= 0x10FFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    if (icu::UnicodeString parts; decomposed->getDecomposition(c, parts)) {
      ASSERT_LE(parts.countChar32(), 4) << "U+" << std::hex << c;
    }
    if (c >= 0x2E80) continue;
    std::string text;
    appendUtf8(static_cast<char32_t>(c), text);
    ASSERT_FALSE(mayKeyHan(text));
    ASSERT_FALSE(containsHan(chineseKey(text))) << "U+" << std::hex << c;
  }
  // A Kangxi radical is its Han character.
  EXPECT_TRUE(mayKeyHan("\xE2\xBC\x80"));
  EXPECT_EQ(chineseKey("\xE2\xBC\x80"), "\xE4\xB8\x80");
}

TEST(DictionaryKeyTest, EveryLetterAndDigitLeavesSomethingInAKey) {
  // The count that gives up on long texts takes every letter and digit for at least one byte of
  // the key: none normalises to nothing.
  int checked = 0;
  for (UChar32 c = 0; c <= 0x10FFFF; ++c) {
    const std::int8_t type = u_charType(c);
    if (!(type >= U_UPPERCASE_LETTER && type <= U_OTHER_LETTER) &&
        !(type >= U_DECIMAL_DIGIT_NUMBER && type <= U_OTHER_NUMBER)) {
      continue;
    }
    std::string text;
    appendUtf8(static_cast<char32_t>(c), text);
    ASSERT_NE(chineseKey(text), "") << "U+" << std::hex << c;
    ++checked;
  }
  EXPECT_GT(checked, 100000);
}

TEST_F(DictionaryServiceTest, TranslatesChineseHeadwordsIntoCleanEnglish) {
  EXPECT_EQ(translate("电脑", "zh-Hans", "en"), "computer");
  EXPECT_EQ(translate("電腦", "zh-Hant", "en"), "computer");
  EXPECT_EQ(translate(" “電腦”。\n", "zh-Hant", "en"), "computer");
  EXPECT_EQ(translate("计算机", "zh-Hans", "en"), "computer; calculator");
  // A common word comes before a proper name of the same writing.
  EXPECT_EQ(translate("苹果", "zh-Hans", "en"), "apple");
  // An idiom's figurative sense, not its literal one.
  EXPECT_EQ(translate("画蛇添足", "zh-Hans", "en"),
            "to ruin the effect by adding something superfluous; to overdo it");
  // A variant answers with the English of the word it is a variant of.
  EXPECT_EQ(translate("昰", "zh-Hant", "en"), "to be; correct; right");
  // A language's name answers with 文 as with 语, a common word does not.
  EXPECT_EQ(translate("瑞典文", "zh-Hans", "en"), "Swedish");
  EXPECT_EQ(translate("瑞典文", "zh-Hant", "en"), "Swedish");
  EXPECT_EQ(translate("国文", "zh-Hans", "en"), std::nullopt);
  EXPECT_EQ(translate("壮文", "zh-Hans", "en"), std::nullopt);  // 壮语 is a common word too
  EXPECT_EQ(translate("了", "zh-Hans", "en"), std::nullopt);
  EXPECT_EQ(translate("我有一台电脑。", "zh-Hans", "en"), std::nullopt);
  // A text without a Han character is no Chinese word.
  EXPECT_EQ(translate("88", "zh-Hans", "en"), std::nullopt);
  EXPECT_EQ(translate("110", "zh-Hant", "en"), std::nullopt);
  EXPECT_EQ(statusFor("88", "en"), std::nullopt);
  EXPECT_EQ(statusFor("110", "en"), std::nullopt);
  // Invisible characters and other spellings of the same characters find the word.
  EXPECT_EQ(translate("\xEF\xBB\xBF\xE2\x80\x8B电脑\xE2\x81\xA0", "zh-Hans", "en"), "computer");
  EXPECT_EQ(translate("电脑", "ja", "en"), std::nullopt);
}

TEST_F(DictionaryServiceTest, RanksEnglishToChineseAndDeclinesWhenUnsure) {
  // Both common words, the more common first; the rare one is left out.
  EXPECT_EQ(translate("computer", "en", "zh-Hans"), "计算机；电脑");
  EXPECT_EQ(translate(" COMPUTER ", "en", "zh-Hans"), "计算机；电脑");
  EXPECT_EQ(translate("Computers", "en", "zh-Hans"), "计算机；电脑");
  EXPECT_EQ(translate("filter", "en", "zh-Hans"), "过滤");
  EXPECT_EQ(translate("apple", "en", "zh-Hans"), "苹果");
  EXPECT_EQ(translate("Germany", "en", "zh-Hans"), "德国");
  EXPECT_EQ(translate("Iliad", "en", "zh-Hans"), "伊利亚特");
  EXPECT_EQ(translate("\"Iliad\"", "en", "zh-Hans"), "伊利亚特");
  EXPECT_EQ(translate("Cafe\xCC\x81", "en", "zh-Hans"), "咖啡馆");
  EXPECT_EQ(translate("\xEF\xAC\x81lter", "en", "zh-Hans"), "过滤");
  EXPECT_EQ(translate("com\xC2\xADputer\xEF\xBB\xBF", "en", "zh-Hans"), "计算机；电脑");
  EXPECT_EQ(translate("to overdo it", "en", "zh-Hans"), "画蛇添足");
  // The name itself, not the character that abbreviates it.
  EXPECT_EQ(translate("Canada", "en", "zh-Hans"), "加拿大");
  // Only a later gloss of its word, a word the corpus never saw with many senses, a literal
  // reading, or a sentence: no sure answer.
  EXPECT_EQ(translate("invalid", "en", "zh-Hans"), std::nullopt);
  EXPECT_EQ(translate("filters", "en", "zh-Hans"), std::nullopt);  // a noun, not the verb
  EXPECT_EQ(translate("rare", "en", "zh-Hans"), std::nullopt);
  EXPECT_EQ(translate("draw legs on a snake", "en", "zh-Hans"), std::nullopt);
  EXPECT_EQ(translate("I have a computer.", "en", "zh-Hans"), std::nullopt);
  EXPECT_EQ(translate("computer", "en", "zh-Hant"), std::nullopt);
}

TEST_F(DictionaryServiceTest, WeighsPartsOfSpeechFormsAndRareWords) {
  // 著作 is more common as a word than 写 as a character, but mostly means "writings".
  EXPECT_EQ(translate("write", "en", "zh-Hans"), "写");
  // A verb mostly used as a noun is the noun in "-ing", ahead of a rarer word glossed so.
  EXPECT_EQ(translate("Warning", "en", "zh-Hans"), "警告");
  EXPECT_EQ(translate("warnings", "en", "zh-Hans"), "警告");
  EXPECT_EQ(translate("Opened", "en", "zh-Hans"), "打开");
  EXPECT_EQ(translate("opening", "en", "zh-Hans"), "打开");
  EXPECT_EQ(translate("filtered", "en", "zh-Hans"), "过滤");
  // A character answers only its first gloss.
  EXPECT_EQ(translate("attach", "en", "zh-Hans"), std::nullopt);
  // A function word's gloss has no plural.
  EXPECT_EQ(translate("among", "en", "zh-Hans"), "其中");
  EXPECT_EQ(translate("ins", "en", "zh-Hans"), std::nullopt);
  EXPECT_EQ(translate("in", "en", "zh-Hans"), std::nullopt);  // too vague alone
  // A rare word answers a common English word only when written with common characters; an
  // idiom answers no single word.
  EXPECT_EQ(translate("refresh", "en", "zh-Hans"), std::nullopt);
  EXPECT_EQ(translate("retry", "en", "zh-Hans"), "重试");
  EXPECT_EQ(translate("acceptable", "en", "zh-Hans"), std::nullopt);
  // Two words about as common: no answer when they mean different things, both when they
  // mean the same.
  EXPECT_EQ(translate("column", "en", "zh-Hans"), std::nullopt);
  EXPECT_EQ(translate("difference", "en", "zh-Hans"), "区别；差别");
}

TEST_F(DictionaryServiceTest, TellsWhichPairsAndTextsItServes) {
  EXPECT_EQ(statusFrom("zh-Hans", "en"), AvailabilityStatus::installed);
  EXPECT_EQ(statusFrom("zh-Hant", "en"), AvailabilityStatus::installed);
  EXPECT_EQ(statusFrom("en", "zh-Hans"), AvailabilityStatus::installed);
  EXPECT_EQ(statusFrom("en", "zh-Hant"), AvailabilityStatus::unsupported);
  EXPECT_EQ(statusFrom("es", "en"), AvailabilityStatus::unsupported);
  EXPECT_EQ(statusFor("电脑", "en"), AvailabilityStatus::installed);
  EXPECT_EQ(statusFor("Germany", "zh-Hans"), AvailabilityStatus::installed);
  EXPECT_EQ(statusFor("Germany", "en"), std::nullopt);
  EXPECT_EQ(statusFor("qwertz", "zh-Hans"), std::nullopt);
}

TEST_F(DictionaryServiceTest, AMissingIndexMakesEveryPairUnsupported) {
  fs::remove(path_);
  EXPECT_EQ(statusFrom("zh-Hans", "en"), AvailabilityStatus::unsupported);
  EXPECT_EQ(statusFor("电脑", "en"), std::nullopt);
  EXPECT_EQ(translate("电脑", "zh-Hans", "en"), std::nullopt);
}

TEST_F(DictionaryServiceTest, ADamagedIndexFailsCleanly) {
  std::ifstream file(path_, std::ios::binary);
  const std::string whole((std::istreambuf_iterator<char>(file)), {});
  ASSERT_TRUE(DictionaryIndex::open(path_));
  // Cut short anywhere, or given a wrong header, the file does not open.
  for (std::size_t size : {std::size_t{0}, std::size_t{7}, std::size_t{40}, std::size_t{104},
                           whole.size() / 2, whole.size() - 1}) {
    write(whole.substr(0, size));
    EXPECT_EQ(DictionaryIndex::open(path_), nullptr) << size;
  }
  for (std::size_t at : {std::size_t{0}, std::size_t{8}, std::size_t{16}, std::size_t{24},
                         std::size_t{32}, std::size_t{56}, std::size_t{88}}) {
    std::string damaged = whole;
    damaged[at + 3] = static_cast<char>(0x7F);
    write(damaged);
    EXPECT_EQ(DictionaryIndex::open(path_), nullptr) << at;
  }
  // Damage past the header may give wrong answers or none, but never an answer read from outside
  // the answer pool, and damage to one table's slots or records leaves the other table's answers
  // as they were.
  const auto field = [&](std::size_t at) {
    std::uint64_t value = 0;
    for (std::size_t i = 8; i-- > 0;)
      value = (value << 8) | static_cast<unsigned char>(whole[at + i]);
    return static_cast<std::size_t>(value);
  };
  const auto inTable = [&](std::size_t at, std::size_t header) {
    const std::size_t slots = field(header), records = field(header + 16);
    return (at >= slots && at < slots + 4 * field(header + 8)) ||
           (at >= records && at < records + field(header + 24));
  };
  const std::size_t answers = field(88);
  const std::vector<std::string> chineseKeys = {"电脑", "苹果", "昰", "不在"};
  const std::vector<std::string> englishKeys = {"computer", "germany", "canada", "absent"};
  std::vector<std::optional<std::string>> english, chinese;
  {
    write(whole);
    auto index = DictionaryIndex::open(path_);
    ASSERT_TRUE(index);
    for (const std::string& key : chineseKeys) english.push_back(index->englishFor(key));
    for (const std::string& key : englishKeys) chinese.push_back(index->chineseFor(key));
  }
  for (std::size_t at = 104; at < whole.size(); at += 7) {
    std::string damaged = whole;
    damaged[at] = static_cast<char>(damaged[at] ^ 0xA5);
    write(damaged);
    auto index = DictionaryIndex::open(path_);
    if (!index) continue;
    for (std::size_t i = 0; i < chineseKeys.size(); ++i) {
      const auto answer = index->englishFor(chineseKeys[i]);
      if (answer) {
        EXPECT_NE(damaged.find(*answer, answers), std::string::npos) << at;
      }
      if (inTable(at, 56)) {
        EXPECT_EQ(answer, english[i]) << at;
      }
    }
    for (std::size_t i = 0; i < englishKeys.size(); ++i) {
      const auto answer = index->chineseFor(englishKeys[i]);
      if (answer) {
        EXPECT_NE(damaged.find(*answer, answers), std::string::npos) << at;
      }
      if (inTable(at, 24)) {
        EXPECT_EQ(answer, chinese[i]) << at;
      }
    }
  }
  write(
      "not an index at all, but long enough to hold a header of one hundred and four bytes "
      "......................");
  EXPECT_EQ(translate("电脑", "zh-Hans", "en"), std::nullopt);
}

TEST(DictionaryIndexPathsTest, LooksBesideTheProgramThenInTheDataDirectories) {
  using P = std::vector<fs::path>;
  EXPECT_EQ(
      dictionaryIndexPaths("/opt/t/bin/talvori", "/x/data", "/home/u", "/a:rel:/b/"),
      (P{"/opt/t/bin/share/talvori/chinese-english.index",
         "/opt/t/share/talvori/chinese-english.index", "/x/data/talvori/chinese-english.index",
         "/a/talvori/chinese-english.index", "/b/talvori/chinese-english.index"}));
  EXPECT_EQ(dictionaryIndexPaths("", nullptr, "/home/u", ""),
            (P{"/home/u/.local/share/talvori/chinese-english.index",
               "/usr/local/share/talvori/chinese-english.index",
               "/usr/share/talvori/chinese-english.index"}));
  EXPECT_EQ(dictionaryIndexPaths("", "relative", nullptr, nullptr),
            (P{"/usr/local/share/talvori/chinese-english.index",
               "/usr/share/talvori/chinese-english.index"}));
}

}  // namespace
}  // namespace talvori
