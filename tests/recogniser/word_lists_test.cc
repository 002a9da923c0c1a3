#include "platform/recogniser/word_lists.h"

#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

namespace talvori {
namespace {

std::vector<std::string_view> languagesOfWord(std::string_view word) {
  std::vector<std::string_view> languages;
  const LanguageMask mask = languagesOf(word);
  for (size_t i = 0; i < kListedLanguages.size(); ++i) {
    if (mask & (1u << i)) languages.push_back(kListedLanguages[i]);
  }
  return languages;
}

bool has(std::string_view word, std::string_view language) {
  return (languagesOf(word) & maskOf(language)) != 0;
}

// Inflected forms come from the spelling dictionaries: plurals, verb forms with and without
// pronouns, irregular forms that a list of lemmas lacks.
TEST(WordListsTest, ListsHoldInflectedForms) {
  for (std::string_view word : {"archivos", "canciones", "mostrando", "seleccione", "activará",
                                "cambiarlos", "formato", "caracteres", "hizo", "puesto"}) {
    EXPECT_TRUE(has(word, "es")) << word;
  }
  for (std::string_view word : {"fichiers", "enregistrées", "ouvrez", "veuillez"}) {
    EXPECT_TRUE(has(word, "fr")) << word;
  }
  for (std::string_view word : {"dateien", "gespeichert", "öffnen", "einstellungen"}) {
    EXPECT_TRUE(has(word, "de")) << word;
  }
  for (std::string_view word : {"page", "titles", "opened", "don't", "i'm", "greek", "january"}) {
    EXPECT_TRUE(has(word, "en")) << word;
  }
  EXPECT_TRUE(has("ficheiros", "pt"));
  EXPECT_TRUE(has("unha", "gl"));
  EXPECT_TRUE(has("contrasenya", "ca"));
  EXPECT_TRUE(has("impostazioni", "it"));
  EXPECT_TRUE(has("bestanden", "nl"));
}

// What sets languages apart: a word of one list that the others lack.
TEST(WordListsTest, WordsOfOneLanguageAreNotWordsOfItsRelatives) {
  EXPECT_EQ(languagesOfWord("tothom"), std::vector<std::string_view>{"ca"});
  EXPECT_FALSE(has("archivos", "en"));
  EXPECT_FALSE(has("arquivos", "es"));
  EXPECT_FALSE(has("ficheiros", "es"));
  EXPECT_FALSE(has("bestand", "en"));
  EXPECT_FALSE(has("flere", "en"));
  // Names are not words: the dictionaries' capitalised stems are left out (except German's), and
  // English keeps only the names of languages, scripts, countries, months and days.
  EXPECT_FALSE(has("madrid", "es"));
  EXPECT_FALSE(has("europa", "en"));
  EXPECT_FALSE(has("antonia", "en"));
  EXPECT_TRUE(has("norwegian", "en"));
  EXPECT_TRUE(has("islands", "en"));
  EXPECT_TRUE(languagesOfWord("xqzvwk").empty());
}

// English, German and Dutch join words without a mark; French, Catalan and Italian elide an
// article before a vowel. Short words do not join ("bestand" is not "best" and "and").
TEST(WordListsTest, JoinedAndElidedWordsCountAsWords) {
  EXPECT_TRUE(has("fullscreen", "en"));
  EXPECT_TRUE(has("filename", "en"));
  EXPECT_TRUE(has("druckereinstellungen", "de"));
  EXPECT_TRUE(has("anmeldungsdaten", "de"));
  EXPECT_TRUE(has("benutzerdatensätze", "de"));
  EXPECT_FALSE(has("systeminstallation", "en"));  // a Danish compound of English parts
  EXPECT_TRUE(has("l'application", "fr"));
  EXPECT_TRUE(has("dell'utente", "it"));
  EXPECT_FALSE(has("l'application", "en"));
}

TEST(WordListsTest, CensusSetsAsideAcronymsCodeAndNames) {
  const WordCensus mixed = takeWordCensus("Memoria USB, Sobre You6 4x6 y Page-title");
  EXPECT_EQ(mixed.words, 5);  // memoria sobre y page title
  EXPECT_EQ(mixed.count("en"), 2);
  EXPECT_EQ(mixed.count("es"), 3);
  EXPECT_EQ(mixed.known, 5);
  EXPECT_EQ(mixed.code, 2);  // You6 4x6
  // Options, placeholders, paths, file names and identifiers are not words.
  const WordCensus code =
      takeWordCensus("Usa --help o %s en /etc/fstab, file.txt, {name}, max_size y fileName");
  EXPECT_EQ(code.words, 4);  // usa o en y
  EXPECT_EQ(code.code, 7);
  // A text all in capitals has no acronyms to skip; a name is a word of no list.
  const WordCensus capitals = takeWordCensus("FORMATO CRONTAB");
  EXPECT_EQ(capitals.words, 2);
  EXPECT_EQ(capitals.count("es"), 1);
  EXPECT_EQ(capitals.known, 1);
}

TEST(WordListsTest, CommonEnglishWordsAndTheOnesSharedWithOtherLanguages) {
  // Common words, English names and proper adjectives; not loans and spellings of other lists.
  for (const char* word : {"bureau", "script", "file", "ecuador", "gaussian", "nordic"}) {
    EXPECT_TRUE(isCommonEnglish(word)) << word;
  }
  for (const char* word : {"connexion", "recherche", "hauteur", "datei"}) {
    EXPECT_FALSE(isCommonEnglish(word)) << word;
  }
  EXPECT_EQ(takeWordCensus("Connexion audio").sharedUncommonEnglish, 1);
  EXPECT_EQ(takeWordCensus("Bureau").sharedUncommonEnglish, 0);
  EXPECT_EQ(takeWordCensus("Gaussian Blur").count("en"), 2);
}

}  // namespace
}  // namespace talvori
