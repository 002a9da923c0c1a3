#include "platform/word_lists.h"

#include <gtest/gtest.h>

#include <string_view>

namespace talvori {
namespace {

TEST(WordListsTest, SearchesASortedListInPlace) {
  const WordList list("apple\nbanana\ncherry\nárbol\nñandú\n");
  for (std::string_view word : {"apple", "banana", "cherry", "árbol", "ñandú"}) {
    EXPECT_TRUE(list.contains(word)) << word;
  }
  for (std::string_view word : {"", "app", "apples", "b", "zebra", "arbol", "\n"}) {
    EXPECT_FALSE(list.contains(word)) << word;
  }
}

TEST(WordListsTest, EnglishHasWordsNamesAndJoinedWordsButNoStrayLetters) {
  for (std::string_view word : {"page", "title", "archive", "shell", "don't", "greek",
                                "january", "fullscreen", "filename", "a", "i"}) {
    EXPECT_TRUE(isEnglishWord(word)) << word;
  }
  // Single letters, possessives, abbreviations ("DE") and short particles of names ("De") are not
  // English evidence; nor are words of other languages, or two short English words run together.
  for (std::string_view word : {"y", "o", "e", "aaron's", "de", "tothom", "archivos",
                                "bestand", "flere"}) {
    EXPECT_FALSE(isEnglishWord(word)) << word;
  }
}

TEST(WordListsTest, SpanishHasRegularFormsOfItsLemmas) {
  for (std::string_view word :
       {"teclado", "árbol", "archivos", "recientes", "canciones", "luces", "mostrando",
        "instalado", "permitidas", "seleccione", "activará", "cambiarlos", "actualización",
        "y", "discordancia"}) {
    EXPECT_TRUE(isSpanishWord(word)) << word;
  }
  for (std::string_view word : {"tothom", "arquivos", "recentes", "unha", "the", "ficheiros"}) {
    EXPECT_FALSE(isSpanishWord(word)) << word;
  }
}

TEST(WordListsTest, CensusSkipsAcronymsAndWordsWithDigits) {
  const WordCensus mixed = takeWordCensus("Memoria USB, Sobre You6 4x6 y Page-title");
  EXPECT_EQ(mixed.words, 5);  // memoria sobre y page title
  EXPECT_EQ(mixed.english, 2);
  EXPECT_EQ(mixed.neither, 0);
  // A text all in capitals has no acronyms to skip.
  const WordCensus capitals = takeWordCensus("KOMMANDO FORMATO");
  EXPECT_EQ(capitals.words, 2);
  EXPECT_EQ(capitals.english, 0);
}

}  // namespace
}  // namespace talvori
