// Grapheme counting and blankness.
#include "queue/text_measure.h"

#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <unicode/brkiter.h>
#include <unicode/unistr.h>

namespace talvori {
namespace {

std::string utf8(UChar32 c) {
  std::string out;
  icu::UnicodeString(c).toUTF8String(out);
  return out;
}

// Every line of Unicode's grapheme break test: the count up to each boundary is right, so the
// ASCII shortcut and ICU agree on where clusters end.
TEST(CountCharacters, AgreesWithUnicodeGraphemeBreakTests) {
  std::ifstream file("/usr/share/unicode/auxiliary/GraphemeBreakTest.txt");
  ASSERT_TRUE(file.good()) << "install unicode-data";
  std::string line;
  int cases = 0;
  while (std::getline(file, line)) {
    line = line.substr(0, line.find('#'));
    if (line.empty()) continue;
    std::istringstream tokens(line);
    std::string token, text;
    std::size_t boundaries = 0;
    while (tokens >> token) {
      if (token == "÷") {
        if (!text.empty()) {
          ++boundaries;
          ASSERT_EQ(countCharacters(text, 100), boundaries) << line;
        }
      } else if (token != "×") {
        text += utf8(static_cast<UChar32>(std::stoul(token, nullptr, 16)));
      }
    }
    ++cases;
  }
  EXPECT_GT(cases, 600);
}

std::size_t countWithIcuOnly(const std::string& text) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::BreakIterator> it(
      icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  const icu::UnicodeString u = icu::UnicodeString::fromUTF8(text);
  it->setText(u);
  std::size_t count = 0;
  it->first();
  while (it->next() != icu::BreakIterator::DONE) ++count;
  return count;
}

// Random mixes of ASCII, CR LF, combining marks, ZWJ emoji and Hangul count as ICU counts them.
TEST(CountCharacters, MixedTextsMatchIcu) {
  // Runs of eight printable ASCII bytes or more take a faster path, so some pieces are such runs.
  const std::vector<std::string> pieces = {"a",
                                           "abcdefgh",
                                           "Hello, world",
                                           " ",
                                           "\r",
                                           "\n",
                                           "\r\n",
                                           "\t",
                                           "\xCC\x81",
                                           "\xE2\x80\x8D",
                                           "👩",
                                           "🇫🇷",
                                           "한",
                                           "\xE1\x84\x80",
                                           "漢",
                                           "\x7F",
                                           "e\xCC\x81",
                                           "\xD8\x80",
                                           "\xE0\xA4\x83",
                                           "\xE1\x85\xA1",
                                           "\xE1\x86\xA8",
                                           "©",
                                           "\xFF",
                                           "\xF0\x9F\x8F\xBB"};
  std::mt19937 random(7);
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    const int length = static_cast<int>(random() % 12);
    for (int i = 0; i < length; ++i) text += pieces[random() % pieces.size()];
    ASSERT_EQ(countCharacters(text, 1000), countWithIcuOnly(text)) << text;
  }
}

std::string repeatedMark(int times) {
  std::string marks;
  for (int i = 0; i < times; ++i) marks += "\xCC\x81";
  return marks;
}

TEST(CountCharacters, StopsOnePastTheLimit) {
  const std::string ascii(10001, 'a');
  EXPECT_EQ(countCharacters(ascii, 10000), 10001u);
  EXPECT_EQ(countCharacters(ascii.substr(1), 10000), 10000u);
  std::string accented;
  for (int i = 0; i < 10000; ++i) accented += "e\xCC\x81";
  EXPECT_EQ(countCharacters(accented, 10000), 10000u);
  EXPECT_EQ(countCharacters(accented + "x", 10000), 10001u);
  std::string family;
  for (int i = 0; i < 99; ++i) family += "👩‍👩‍👧‍👦";
  EXPECT_EQ(countCharacters(family, 99), 99u);
  EXPECT_EQ(countCharacters(family + "👩‍👩‍👧‍👦", 99), 100u);
  EXPECT_EQ(countCharacters(std::string(5000, '\r') + std::string(1, '\n'), 99), 100u);
  EXPECT_EQ(countCharacters("", 0), 0u);
  // Texts far over the limit: settled from a window, or over the whole text when clusters are
  // too long for the window to tell.
  std::string flags;
  for (int i = 0; i < 200000; ++i) flags += "🇫🇷";
  EXPECT_EQ(countCharacters(flags, 10000), 10001u);
  std::string heavy = "\xF0\x9F\x87\xAB";  // a regional indicator, then a mark-laden cluster
  for (int i = 0; i < 40; ++i) {
    heavy += 'a';
    heavy += repeatedMark(200);
  }
  EXPECT_EQ(countCharacters(heavy, 30), 31u);
  EXPECT_EQ(countCharacters(heavy, 41), 41u);
  EXPECT_EQ(countCharacters("a\xFF\xFE", 10), 3u);
}

TEST(IsBlank, WhitespaceAndNewlinesOnly) {
  for (const char* blank : {"", " ", " \t\n\r\v\f", "\xC2\x85", "\xE3\x80\x80", "\xE2\x80\xA8",
                            "\xE2\x80\xA9", "\xC2\xA0 \xE2\x80\x83"}) {
    EXPECT_TRUE(isBlank(blank)) << blank;
  }
  for (const char* text :
       {" a ", "\xE2\x80\x8B", "\xE2\x80\x8D", "\xEF\xBB\xBF", "\xFF", ".", "\x1C"}) {
    EXPECT_FALSE(isBlank(text)) << text;
  }
}

}  // namespace
}  // namespace talvori
