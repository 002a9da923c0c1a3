#include "platform/recogniser/latin_reconciler.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

namespace talvori {
namespace {

// A text, what CLD2 said of it, and what the reconciliation must make of that.
struct Case {
  std::string_view text;
  std::optional<std::string> cld2;
  std::optional<std::string> language;
};

void expectAll(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    const Cld2Verdict verdict{c.cld2, {c.cld2, std::nullopt, std::nullopt}};
    EXPECT_EQ(reconcileLatin(c.text, verdict), c.language)
        << "text: \"" << c.text << "\", CLD2: " << c.cld2.value_or("(none)");
  }
}

// One or two English words are English whatever CLD2 makes of them, unless something points to
// another language: a function word of it, or a letter English does not write.
TEST(LatinReconcilerTest, TextsOfEnglishWordsAreEnglish) {
  expectAll({
      {"Page title", "vi", "en"},
      {"shell archive", "mt", "en"},
      {"Fullscreen", "ms", "en"},
      {"February", std::nullopt, "en"},
      {"Open the file", "en", "en"},
      // Pointing elsewhere: "la", "die" and "sin" are English words too, but function words of
      // Spanish and German; "ê" is not written in English words.
      {"La casa", "es", "es"},
      {"Die Datei", "de", "de"},
      {"sin nombre", "es", "es"},
      {"Fenêtre", "fr", "fr"},
  });
}

// A word or two-word name of the English list is English whatever CLD2 says, even where
// another language's list holds it too ("Proxy", "Levels", "Script", "Bureau"), unless it is a
// word Spanish, French or German also writes and no common English word ("Connexion",
// "Recherche"), or another language's function word ("Till", "Care", "Plus"). Proper adjectives
// are words of the list.
TEST(LatinReconcilerTest, WordsOfTheEnglishListAreEnglish) {
  expectAll({
      {"Ale", "cs", "en"},
      {"Levels", "sv", "en"},
      {"Levels", "de", "en"},
      {"Proxy", "gl", "en"},
      {"HTTP Proxy", "gl", "en"},
      {"Shell archive", "mt", "en"},
      {"Script", "it", "en"},
      {"Bureau", "fr", "en"},
      {"Gaussian", std::nullopt, "en"},
      {"Gaussian Blur", "en", "en"},
      {"Nordic", "da", "en"},
      {"Boolean", "gd", "en"},
      {"Connexion", "fr", "fr"},
      {"Recherche", "fr", "fr"},
      {"Till", "sv", "sv"},
      {"Care", "ro", "ro"},
      {"Plus", "fr", "fr"},
  });
}

// A short text without a single English word is not English, whatever CLD2 says: the agent
// would echo it untranslated. Spanish words give Spanish; other words give none.
TEST(LatinReconcilerTest, ShortTextsWithoutEnglishWordsAreNotEnglish) {
  expectAll({
      {"Flere", "en", std::nullopt},
      {"Indstillinger", "en", std::nullopt},
      {"Archivos recientes", "en", "es"},
      {"discordancia en orden de bytes", "en", "es"},
      {"Imprimir documento", "en", "es"},
      // One English word keeps CLD2's English on a text it cannot otherwise place.
      {"Wacom Tablet", "en", "en"},
  });
}

// The prior toward Spanish applies only when nothing sets the relative apart; words only the
// relative uses keep it, even when CLD2 itself answered Spanish.
TEST(LatinReconcilerTest, RelativesKeepTheirIdentityOnTheirOwnWords) {
  expectAll({
      // Catalan "tothom", Portuguese "não", Galician "unha", Italian "gli".
      {"Bon dia a tothom", "es", "ca"},
      {"Bona nit a tothom", "es", "ca"},
      {"Não foi possível abrir", "es", "pt"},
      {"unha cadea baleira", "es", "gl"},
      {"gli utenti attivi", "es", "it"},
      // Words Spanish lacks ("arquivos", "recentes", "ficheiros") set the relative apart.
      {"Arquivos recentes", "pt", "pt"},
      {"Ficheiros recentes", "gl", "gl"},
      // Nothing sets these apart from Spanish: the prior gives Spanish.
      {"Texto plano", "pt", "es"},
      {"Tabla de símbolos", "gl", "es"},
      {"Módulo cargado", "it", "es"},
  });
}

// Names, code and letters used as names are not evidence; a main language whose list misses one
// word of several (a loanword, a technical term) still counts when no list holds them all.
TEST(LatinReconcilerTest, NamesCodeAndLoanwordsAreSetAside) {
  expectAll({
      {"Reinicia el daemon ahora", "en", "es"},
      {"el kernel se detiene", "de", "es"},
      {"de programación C", "gl", "es"},
      {"ni systemd ni crontab disponibles", "rw", "es"},
      {"AudioNext", "en", "en"},  // key names join capitalised words
      {"fileName", "en", std::nullopt},
      {"--help %s", "en", std::nullopt},
      // Accents written as combining marks ("o" and U+0301) are read as composed letters.
      {"Tele\u0301fono mo\u0301vil", "en", "es"},
  });
}

// A relative that CLD2 names in a text shorter than kShortTextLimit gives way to its main language
// when nothing in the text sets it apart; from that length on CLD2's answer stands. Spaces after
// the words make the same text as long as wanted.
TEST(LatinReconcilerTest, Cld2sRelativeStandsFromTheShortTextLimitOn) {
  const Cld2Verdict occitan{"oc", {"oc", std::nullopt, std::nullopt}};
  for (const size_t length : {kShortTextLimit - 1, kShortTextLimit, kShortTextLimit + 1}) {
    std::string text = "Modo de ajuste";
    text.resize(length, ' ');
    EXPECT_EQ(reconcileLatin(text, occitan), length < kShortTextLimit ? "es" : "oc")
        << length << " code points";
  }
}

TEST(LatinReconcilerTest, ProfilesOverruleCld2OnFunctionWords) {
  expectAll({
      {"Especifica el color para los conectores.", "en", "es"},
      {"Les lignes courtes", "no", "fr"},
      {"le nombre total de", "fr", "fr"},  // every word Spanish too, but "le" leads for French
      {"in der Datei fstab", "en", "de"},
  });
}

}  // namespace
}  // namespace talvori
