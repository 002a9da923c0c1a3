#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/recogniser/latin_profiles.h"
#include "platform/recogniser/recogniser.h"

namespace talvori {
namespace {

std::optional<std::string> recognise(std::string_view text) {
  std::unique_ptr<LanguageRecogniser> recogniser = makeRecogniser();
  recogniser->processString(text);
  return recogniser->dominantLanguage();
}

// Recognisers on several threads at once, from their first use on, give each text the answer that
// one thread alone gives it: they share nothing but read-only tables. Each path of the recogniser
// is taken: word look-ups, the profiles and a relative's distinctive evidence, combining accents,
// a long text's sample, the scripts of East Asian text, text to clean.
TEST(RecogniserThreadsTest, RecognisersOnSeveralThreadsAnswerAsOneDoes) {
  std::string longText;
  while (longText.size() < 20000) longText += "Die Datei wird beim Start des Dienstes gelesen. ";
  const std::vector<std::string> texts = {
      "Page title",
      "Archivos recientes",
      "Druckereinstellungen speichern",
      "Paramètres de l'imprimante",
      "Especifica el color para los conectores.",
      "The quick brown fox jumps over the lazy dog near the river bank.",
      "Não foi possível abrir o ficheiro de configuração.",
      "Tabla de símbolos",
      "col·lecció de fitxers",
      "Tele\u0301fono mo\u0301vil",
      longText,
      "電腦",
      "我们今天去公园散步",
      "日本語の文章",
      "안녕하세요",
      "Привет, как дела?",
      "Mi ŝatas legi librojn ĉiutage.",
      "\xff\xfe Der schnelle braune Fuchs \x01 springt über den faulen Hund",
  };
  constexpr size_t kThreads = 4;
  constexpr size_t kRounds = 40;
  std::vector<std::vector<std::optional<std::string>>> answers(kThreads);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < kThreads; ++t) {
    threads.emplace_back([&texts, &answers, t] {
      for (size_t i = 0; i < kRounds * texts.size(); ++i) {
        answers[t].push_back(recognise(texts[(i + t) % texts.size()]));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (size_t t = 0; t < kThreads; ++t) {
    for (size_t i = 0; i < answers[t].size(); ++i) {
      const std::string& text = texts[(i + t) % texts.size()];
      ASSERT_EQ(answers[t][i], recognise(text)) << "thread " << t << ", text: \"" << text << "\"";
    }
  }
}

// The profiles score texts of different languages on several threads at once, each as one thread
// alone scores it: each call has storage of its own.
TEST(RecogniserThreadsTest, ProfilesScoreOnSeveralThreadsAsOnOne) {
  const std::array<std::string_view, 4> texts = {
      "La cadena que se inserta cuando se ejecuta la orden.",
      "Désactiver la transformation du superutilisateur.",
      "Die Datei wird beim Start des Dienstes gelesen.",
      "O ficheiro de configuração está no diretório principal.",
  };
  std::array<ProfileScores, texts.size()> alone;
  for (size_t t = 0; t < texts.size(); ++t) alone[t] = scoreLatinProfiles(texts[t]);
  constexpr int kRounds = 2000;
  std::array<int, texts.size()> differing{};
  std::vector<std::thread> threads;
  for (size_t t = 0; t < texts.size(); ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round) {
        const ProfileScores scores = scoreLatinProfiles(texts[t]);
        for (size_t i = 0; i < scores.size(); ++i) {
          differing[t] += scores[i].score != alone[t][i].score ||
                          scores[i].foreignLetters != alone[t][i].foreignLetters;
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (size_t t = 0; t < texts.size(); ++t) {
    EXPECT_EQ(differing[t], 0) << "text: \"" << texts[t] << "\"";
  }
}

}  // namespace
}  // namespace talvori
