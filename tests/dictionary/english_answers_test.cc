// How English words find their Chinese: computing senses, the everyday sense before a rare,
// regional or literary word, inflected forms through real base forms, and names. The entries
// are CC-CEDICT's, the counts and tags jieba's, the English words WordNet's.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "gtest/gtest.h"

#include "platform/dictionary/dictionary_text.h"
#include "tools/dictionary_index/dictionary_builder.h"
#include "tools/dictionary_index/english_lexicon.h"

namespace talvori {
namespace {

constexpr std::uint8_t kNoun = static_cast<std::uint8_t>(PartOfSpeech::noun);
constexpr std::uint8_t kVerb = static_cast<std::uint8_t>(PartOfSpeech::verb);
constexpr std::uint8_t kAdjective = static_cast<std::uint8_t>(PartOfSpeech::adjective);

class EnglishAnswersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::vector<DictionaryEntry> entries = {
        // Computing senses, late in their entries, against words whose first sense is the text.
        {"保存",
         "保存",
         "bao3 cun2",
         {"to conserve; to preserve; to keep; to store; (computing) to save (a file etc)"}},
        {"挽救", "挽救", "wan3 jiu4", {"to save", "to remedy", "to rescue"}},
        {"撤銷", "撤销", "che4 xiao1", {"to repeal", "to revoke", "(computing) to undo"}},
        {"解開", "解开", "jie3 kai1", {"to untie", "to undo", "to solve (a mystery)"}},
        {"粘貼",
         "粘贴",
         "zhan1 tie1",
         {"to stick", "to affix", "to adhere", "to paste (as in \"copy and paste\")",
          "Taiwan pr. [nian2 tie1]"}},
        {"漿糊", "浆糊", "jiang4 hu5", {"paste", "Taiwan pr. [jiang4 hu2]"}},
        {"灌",
         "灌",
         "guan4",
         {"to irrigate", "to pour", "to install (software)", "(computing) to install"}},
        // A word mostly used as a verb is the verb, ahead of a noun spelt alike.
        {"傷口", "伤口", "shang1 kou3", {"wound", "cut"}},
        {"切割", "切割", "qie1 ge1", {"to cut"}},
        // Colloquial, regional and negated uses; a particle's other meaning; an idiom.
        {"沿邊兒", "沿边儿", "yan2 bian1 r5", {"to trim (border with braid, tape etc)"}},
        {"少塊肉",
         "少块肉",
         "shao3 kuai4 rou4",
         {"(coll.) (usually used in the negative) (can't) hurt (to do sth)",
          "(won't) hurt (to do sth)"}},
        {"吧",
         "吧",
         "ba1",
         {"bar (loanword) (serving drinks, or providing Internet access etc)",
          "to puff (on a pipe etc)", "(onom.) bang"}},
        {"酒吧", "酒吧", "jiu3 ba1", {"bar (place to buy drinks)"}},
        {"蛛絲馬跡",
         "蛛丝马迹",
         "zhu1 si1 ma3 ji4",
         {"lit. spider's thread and horse track", "tiny hints (of a secret)", "traces", "clue"}},
        // A character and a word about as common for the same text.
        {"鬧", "闹", "nao4", {"noisy", "cacophonous", "to make noise", "to disturb"}},
        {"嘈雜", "嘈杂", "cao2 za2", {"noisy", "clamorous"}},
        // A plural with a meaning of its own is no plural of a verb's noun in "-ing".
        {"救援", "救援", "jiu4 yuan2", {"to save", "to support", "to help", "to assist"}},
        {"儲蓄", "储蓄", "chu3 xu4", {"to save money (in a bank)", "savings"}},
        // Inflected forms: of nouns, of regular and irregular verbs, and a look-alike.
        {"論文", "论文", "lun4 wen2", {"paper", "treatise", "thesis"}},
        {"博士論文", "博士论文", "bo2 shi4 lun4 wen2", {"doctoral dissertation; PhD thesis"}},
        {"這些個", "这些个", "zhe4 xie1 ge5", {"these"}},
        {"對齊", "对齐", "dui4 qi2", {"to align", "(typography) to justify"}},
        {"發現", "发现", "fa1 xian4", {"to find; to discover"}},
        {"剪", "剪", "jian3", {"scissors", "to cut with scissors", "to trim", "to clip"}},
        {"剪輯", "剪辑", "jian3 ji2", {"to clip; to edit; to cut (a film)"}},
        {"發送", "发送", "fa1 song4", {"to send; to transmit"}},
        {"設定",
         "设定",
         "she4 ding4",
         {"to set", "to set up", "to install", "setting", "preferences"}},
        {"最初", "最初", "zui4 chu1", {"first", "primary", "initial", "original"}},
        {"公斤", "公斤", "gong1 jin1", {"kilogram (kg)"}},
        // Names: a list of names, a description holding Chinese, a short name.
        {"雲貴川", "云贵川", "Yun2 Gui4 Chuan1", {"Yunnan, Guizhou and Sichuan"}},
        {"四川", "四川", "Si4 chuan1", {"see 四川省[Si4 chuan1 Sheng3]"}},
        {"四川省",
         "四川省",
         "Si4 chuan1 Sheng3",
         {"Sichuan Province, capital Chengdu 成都市[Cheng2 du1 Shi4]"}},
        {"佛羅倫薩", "佛罗伦萨", "Fo2 luo2 lun2 sa4", {"Florence, Italy"}},
        // Later senses of words that mean something else first, and the evidence that a later
        // sense is a common use after all.
        {"說道", "说道", "shuo1 dao5", {"to discuss", "reason (behind sth)"}},
        {"原因", "原因", "yuan2 yin1", {"cause", "origin", "root cause", "reason"}},
        {"汽車", "汽车", "qi4 che1", {"car", "automobile", "bus"}},
        {"巴士", "巴士", "ba1 shi4", {"bus (loanword)", "motor coach"}},
        {"錯誤", "错误", "cuo4 wu4", {"mistaken; false; wrong", "error; mistake"}},
        {"謬誤", "谬误", "miu4 wu4", {"error", "mistaken idea", "falsehood"}},
        {"命令", "命令", "ming4 ling4", {"order", "command"}},
        {"指令", "指令", "zhi3 ling4", {"order", "command", "instruction"}},
        {"出口",
         "出口",
         "chu1 kou3",
         {"an exit", "to speak", "to export", "(of a ship) to leave port"}},
        {"出口商", "出口商", "chu1 kou3 shang1", {"exporter", "export business"}},
        {"出口貨", "出口货", "chu1 kou3 huo4", {"exports", "goods for export"}},
        {"進出口",
         "进出口",
         "jin4 chu1 kou3",
         {"importation and exportation; import-export",
          "access point; opening that serves as an "
          "entrance or exit"}},
        // A computing sense deep in a common word's entry, and a word that has it first.
        {"運作",
         "运作",
         "yun4 zuo4",
         {"to operate", "operations", "workings", "activities (usu. of an organization)",
          "thread (computing)"}},
        {"線程", "线程", "xian4 cheng2", {"(computing) thread"}},
        // Plurals: not of an adjective, nor a plural in "-ings" that is a word of its own.
        {"專用", "专用", "zhuan1 yong4", {"special", "dedicated"}},
        {"節省", "节省", "jie2 sheng3", {"saving", "to save", "to use sparingly"}},
    };
    const WordFrequencies frequencies = {
        {"保存", 3073},   {"挽救", 863},     {"撤销", 4998},   {"解开", 1102},  {"粘贴", 59},
        {"粘", 1360},     {"贴", 5204},      {"对", 52000},    {"齐", 2400},    {"辑", 830},
        {"浆糊", 52},     {"灌", 1234},      {"伤口", 1528},   {"切割", 492},   {"沿边儿", 3},
        {"吧", 25526},    {"酒吧", 326},     {"蛛丝马迹", 97}, {"论文", 1875},  {"这些个", 12},
        {"对齐", 22},     {"发现", 31209},   {"剪", 1150},     {"剪辑", 77},    {"发送", 585},
        {"设定", 406},    {"最初", 2996},    {"公斤", 4112},   {"云贵川", 9},   {"四川", 5340},
        {"四川省", 1440}, {"佛罗伦萨", 132}, {"闹", 4507},     {"嘈杂", 318},   {"救援", 703},
        {"储蓄", 413},    {"说道", 21168},   {"原因", 12682},  {"汽车", 10193}, {"巴士", 142},
        {"错误", 6379},   {"谬误", 267},     {"命令", 8003},   {"指令", 869},   {"出口", 8237},
        {"出口商", 65},   {"出口货", 3},     {"进出口", 1202}, {"运作", 1247},  {"线程", 3},
        {"专用", 1013},   {"节省", 695},     {"线", 7688},     {"程", 5343},    {"博士论文", 35}};
    const WordTags tags = {
        {"保存", "v"}, {"挽救", "v"},  {"撤销", "v"},    {"解开", "v"},      {"粘贴", "n"},
        {"浆糊", "n"}, {"灌", "v"},    {"伤口", "n"},    {"切割", "v"},      {"吧", "y"},
        {"酒吧", "n"}, {"论文", "nz"}, {"这些个", "r"},  {"对齐", "d"},      {"发现", "v"},
        {"剪", "v"},   {"剪辑", "n"},  {"发送", "v"},    {"设定", "v"},      {"最初", "t"},
        {"公斤", "q"}, {"四川", "ns"}, {"四川省", "ns"}, {"佛罗伦萨", "ns"}, {"闹", "v"},
        {"嘈杂", "a"}, {"救援", "vn"}, {"储蓄", "n"},    {"说道", "v"},      {"原因", "n"},
        {"汽车", "n"}, {"巴士", "ns"}, {"错误", "n"},    {"谬误", "n"},      {"命令", "n"},
        {"指令", "n"}, {"出口", "vn"}, {"运作", "vn"},   {"线程", "n"},      {"专用", "n"},
        {"节省", "n"}};
    EnglishLexicon lexicon;
    for (const char* noun :
         {"paste",   "wound",    "cut",     "bar",   "trace",  "thesis", "setting",
          "initial", "kilogram", "reason",  "cause", "car",    "bus",    "error",
          "mistake", "order",    "command", "exit",  "export", "thread", "special"}) {
      lexicon.lemmas[noun] |= kNoun;
    }
    for (const char* verb : {"save", "preserve", "undo", "paste", "install", "cut", "trim", "hurt",
                             "trace", "align", "discover", "find", "clip", "send", "set"}) {
      lexicon.lemmas[verb] |= kVerb;
    }
    for (const char* adjective : {"initial", "mistaken", "false", "special"}) {
      lexicon.lemmas[adjective] |= kAdjective;
    }
    // WordNet has "cause" and "reason" in one synset.
    lexicon.meanings["cause"] = {{1, 0}};
    lexicon.meanings["reason"] = {{1, 0}, {2, 1}};
    lexicon.lemmas["savings"] |= kNoun;
    lexicon.lemmas["saving"] |= kNoun;
    lexicon.exceptions = {{"theses", {{"thesis", PartOfSpeech::noun}}},
                          {"sent", {{"send", PartOfSpeech::verb}}},
                          {"clipped", {{"clip", PartOfSpeech::verb}}},
                          {"setting", {{"set", PartOfSpeech::verb}}}};
    lexicon.words = {"saved",   "theses",   "these",    "aligned",  "discovered",
                     "traces",  "settings", "setting",  "initials", "kilograms",
                     "clipped", "exports",  "specials", "savings",  "threads"};
    // SemCor's counts: "cut" and "save" are mostly verbs.
    lexicon.usage = {
        {"cut", {87, 8}}, {"save", {79, 0}}, {"paste", {5, 6}}, {"special", {0, 41, 38}}};
    answers_ = buildAnswers(entries, frequencies, tags, lexicon).english;
  }

  std::optional<std::string> chineseFor(const std::string& text) const {
    const auto found = answers_.find(englishKey(text));
    if (found == answers_.end()) return std::nullopt;
    return found->second;
  }

  std::map<std::string, std::string> answers_;
};

TEST_F(EnglishAnswersTest, AComputingSenseWinsWhereverItStands) {
  EXPECT_EQ(chineseFor("Save"), "保存");
  EXPECT_EQ(chineseFor("Saved"), "保存");
  EXPECT_EQ(chineseFor("Undo"), "撤销");
  EXPECT_EQ(chineseFor("Paste"), "粘贴");
  // Not through a character, whose count is that of its other meanings.
  EXPECT_NE(chineseFor("install"), "灌");
}

TEST_F(EnglishAnswersTest, AWordMostlyUsedAsAVerbIsTheVerb) {
  EXPECT_EQ(chineseFor("Cut"), "切割");
  EXPECT_EQ(chineseFor("wound"), "伤口");
}

TEST_F(EnglishAnswersTest, RareColloquialAndNegatedUsesGiveNoAnswer) {
  // 剪 answers only its first gloss, "scissors".
  EXPECT_EQ(chineseFor("Trim"), std::nullopt);
  EXPECT_EQ(chineseFor("Hurt"), std::nullopt);
  // 吧 is counted as a particle; the bar is 酒吧.
  EXPECT_EQ(chineseFor("Bar"), "酒吧");
  // An idiom answers no single word.
  EXPECT_EQ(chineseFor("Traces"), std::nullopt);
}

TEST_F(EnglishAnswersTest, InflectedFormsReachTheirBaseFormNeverALookAlike) {
  EXPECT_EQ(chineseFor("Theses"), "论文");
  EXPECT_EQ(chineseFor("Aligned"), "对齐");
  EXPECT_EQ(chineseFor("Discovered"), "发现");
  EXPECT_EQ(chineseFor("Clipped"), "剪辑");
  EXPECT_EQ(chineseFor("Sent"), "发送");
  // A word glossed with the noun in "-ing" answers its plural too.
  EXPECT_EQ(chineseFor("Settings"), "设定");
  // Only a noun has a plural: "initials" is not 最初 "initial", but "kilograms" is 公斤.
  EXPECT_EQ(chineseFor("initials"), std::nullopt);
  EXPECT_EQ(chineseFor("Kilograms"), "公斤");
}

TEST_F(EnglishAnswersTest, AWordBeforeACharacterAndAPluralOfItsOwn) {
  // A character's count covers its uses in other senses and words.
  EXPECT_EQ(chineseFor("noisy"), "嘈杂");
  // "savings" is money put by, not rescues.
  EXPECT_EQ(chineseFor("Savings"), "储蓄");
}

TEST_F(EnglishAnswersTest, ALaterSenseOfAWordThatMeansSomethingElseFirstIsNoSureAnswer) {
  // 说道 is "to discuss" first, 汽车 "car": neither is sure for the bare word.
  EXPECT_EQ(chineseFor("Reason"), std::nullopt);
  EXPECT_EQ(chineseFor("Bus"), std::nullopt);
  EXPECT_EQ(chineseFor("car"), "汽车");
  // An earlier gloss that WordNet has as a synonym: 原因 "cause; ...; reason".
  EXPECT_EQ(chineseFor("cause"), "原因");
  // The corpus uses 错误 as a noun, and its first sense is adjectives: "error" is its main use.
  EXPECT_EQ(chineseFor("Error"), "错误");
  // Another word is glossed "order; command" too.
  EXPECT_EQ(chineseFor("Command"), "命令");
  // Longer words use 出口 for "export" as often as for "exit".
  EXPECT_EQ(chineseFor("Export"), "出口");
}

TEST_F(EnglishAnswersTest, AComputingSenseDeepInACommonWordGivesWayToItsOwnTerm) {
  EXPECT_EQ(chineseFor("Thread"), "线程");
  EXPECT_EQ(chineseFor("Threads"), "线程");
}

TEST_F(EnglishAnswersTest, PluralsOfAdjectivesAndOfWordsOfTheirOwnAreNone) {
  EXPECT_EQ(chineseFor("special"), "专用");
  EXPECT_EQ(chineseFor("Specials"), std::nullopt);
  // "savings" is money put by: 储蓄, not 节省 "saving".
  EXPECT_EQ(chineseFor("Savings"), "储蓄");
}

TEST_F(EnglishAnswersTest, NamesKeepTheirOwnTranslation) {
  // A list of names is no name of its own; a description in Chinese goes; a short name that
  // refers to the full one answers with it.
  EXPECT_EQ(chineseFor("Yunnan"), std::nullopt);
  EXPECT_EQ(chineseFor("Sichuan"), "四川");
  EXPECT_EQ(chineseFor("Sichuan Province"), "四川省");
  EXPECT_EQ(chineseFor("Florence"), "佛罗伦萨");
}

}  // namespace
}  // namespace talvori
