#include "platform/recogniser/recogniser.h"

#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

namespace talvori {
namespace {

std::optional<std::string> recognise(std::string_view text) {
  std::unique_ptr<LanguageRecogniser> recogniser = makeRecogniser();
  recogniser->processString(text);
  return recogniser->dominantLanguage();
}

struct Case {
  std::string_view text;
  std::optional<std::string> language;
};

void expectAll(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    EXPECT_EQ(recognise(c.text), c.language) << "text: \"" << c.text << "\"";
  }
}

TEST(RecogniserTest, ScriptsDecideEastAsianText) {
  expectAll({
      // Han alone is Chinese, told apart by Simplified-only and Traditional-only characters.
      {"你好，世界", "zh-Hans"},
      {"电脑", "zh-Hans"},
      {"電腦", "zh-Hant"},
      {"我們今天去公園散步", "zh-Hant"},
      {"我们今天去公园散步", "zh-Hans"},
      {"中国", "zh-Hans"},
      {"中國", "zh-Hant"},
      {"  \n人\t", "zh-Hans"},  // only shared characters
      {"这是電", "zh-Hans"},    // a tie goes to Simplified
      {"這個電腦很好用", "zh-Hant"},
      {"ㄅㄆㄇ", "zh-Hant"},
      // Any kana makes Japanese, even amid Han.
      {"こんにちは", "ja"},
      {"コンピューター", "ja"},
      {"ｺﾝﾋﾟｭｰﾀｰ", "ja"},
      {"日本語の文章", "ja"},
      {"東京都に住んでいる", "ja"},
      {"ー", "ja"},
      // Hangul makes Korean, Hanja or not.
      {"안녕하세요", "ko"},
      {"大韓民國 만세", "ko"},
  });
}

TEST(RecogniserTest, MixedScriptsGoToTheScriptWithMostLetters) {
  expectAll({
      {"我买了一台iPhone手机", "zh-Hans"},
      {"我今天用Microsoft Word寫報告", "zh-Hant"},
      {"請使用 --help 選項查看說明", "zh-Hant"},
      {"I left my 电脑 at the office yesterday", "en"},
      {"Der Begriff 東京 bezeichnet eine Stadt in Japan", "de"},
      {"ファイルを開く (open a file)", "ja"},
      {"The word ありがとう means thank you in Japanese", "en"},
      {"Привет, как дела? hi", "ru"},
      {"hello, hello, hello, this is mostly English with a Russian word привет", "en"},
      {"Это длинное русское предложение с одним английским словом computer", "ru"},
      {"Bonjour à tous, je suis très content de vous voir aujourd'hui. Hello!", "fr"},
  });
}

// Long texts are judged on windows spread over the whole text, so the language holding most of
// it wins wherever it stands.
TEST(RecogniserTest, LongTextsGoToTheLanguageWithMostOfTheText) {
  const std::string german =
      "Die Datei wird beim Start des Dienstes gelesen und kann jederzeit geändert werden. ";
  const std::string english =
      "The file is read when the service starts and may be changed at any time afterwards. ";
  auto repeat = [](const std::string& piece, size_t bytes) {
    std::string text;
    while (text.size() < bytes) text += piece;
    return text;
  };
  EXPECT_EQ(recognise(repeat(english, 30000) + repeat(german, 70000)), "de");
  EXPECT_EQ(recognise(repeat(german, 30000) + repeat(english, 70000)), "en");
  EXPECT_EQ(recognise(repeat(english, 20000) + repeat(german, 60000) + repeat(english, 20000)),
            "de");
  // Invalid bytes throughout a long text do not stop the detector.
  EXPECT_EQ(recognise(repeat(german + "\xff\x01", 200000)), "de");
  // Script counts cover the whole text, not only the windows.
  EXPECT_EQ(recognise(repeat("这个文件在服务启动时读取。", 200000) + repeat(english, 1000)),
            "zh-Hans");
}

TEST(RecogniserTest, TextWithoutLettersGivesNone) {
  expectAll({
      {"", std::nullopt},
      {"   \n\t ", std::nullopt},
      {"12345", std::nullopt},
      {"😀😀", std::nullopt},
      {"!!!", std::nullopt},
      {"—", std::nullopt},
      {"3.14 + 2 = 5.14 ; (42) [7] {} <> @#$%^&*", std::nullopt},
      {"１２３４５。、！", std::nullopt},
      {"→ ★ ♥ © ®", std::nullopt},
      {"\x01\x02\x7f", std::nullopt},
  });
}

TEST(RecogniserTest, CldAnswersAreGivenAsBcp47) {
  expectAll({
      {"Hello world", "en"},
      {"Hola mundo", "es"},
      {"Bonjour le monde", "fr"},
      {"Guten Tag", "de"},
      {"Привет мир", "ru"},
      {"Il gatto dorme sul divano tutto il giorno", "it"},
      {"Dit is een korte zin in het Nederlands", "nl"},
      {"Το σπίτι μας είναι μεγάλο και όμορφο", "el"},
      {"שלום עולם, מה שלומך היום", "he"},  // CLD2 says "iw"
      {"مرحبا بالعالم، كيف حالك اليوم", "ar"},
      {"สวัสดีครับ วันนี้อากาศดีมาก", "th"},
      {"नमस्ते दुनिया, आप कैसे हैं", "hi"},
  });
}

// Short or technical sentences that CLD2 alone misnames, and the close relatives the Latin-script
// profiles must not swallow.
TEST(RecogniserTest, ProfilesSettleLatinScriptRelatives) {
  expectAll({
      // Main languages that CLD2 calls English, Norwegian, Afrikaans, Galician, ...
      {"Especifica el color para los conectores.", "es"},
      {"La cadena que se inserta cuando se ejecuta la orden.", "es"},
      {"Formato de las", "es"},
      {"Para la shell, ésta", "es"},
      {"Les lignes courtes", "fr"},
      {"Désactiver la transformation du superutilisateur.", "fr"},
      {"L’application est", "fr"},
      {"in der Datei fstab", "de"},
      {"der Diensteprozess", "de"},
      // Relatives stay themselves, even when they share most words with a main language.
      {"A configuração do sistema não pode ser alterada pelo utilizador.", "pt"},
      {"O ficheiro de configuração está no diretório principal.", "pt"},
      {"Il file di configurazione si trova nella directory principale.", "it"},
      {"El fitxer de configuració és a la carpeta principal.", "ca"},
      {"Non se pode abrir o ficheiro porque xa está en uso.", "gl"},
      {"Het bestand wordt bij het opstarten van de dienst gelezen.", "nl"},
      {"Filen läses när tjänsten startar och kan ändras när som helst.", "sv"},
      {"Fișierul este citit la pornirea serviciului și poate fi modificat.", "ro"},
      // Loanwords do not turn English into their language.
      {"We had a quesadilla at the fiesta with our amigos.", "en"},
      {"The café served a crème brûlée that was the best in town.", "en"},
      {"He said über cool things about the Zeitgeist of the era.", "en"},
      // Spellings alone do not overrule CLD2.
      {"Hello world", "en"},
  });
}

// Short texts that are equally good in a main language and its close relatives go to the main
// language; any letter, word or spelling of the relative that the main language lacks keeps the
// relative.
TEST(RecogniserTest, AmbiguousTextsGoToTheMainLanguage) {
  expectAll({
      // CLD2 calls these Portuguese, Galician or Italian; nothing in them is not Spanish.
      {"Tabla de símbolos", "es"},
      {"Módulo cargado", "es"},
      {"Volumen lógico", "es"},
      {"Texto plano", "es"},
      {"modo texto", "es"},
      // Evidence of the relative: letters ("ã", "ç", "à", "·"), words ("non", "unha", "che",
      // "het", "l'"), spellings ("lh", "ny", "gli", "_xe", "ció", "ij").
      {"Não foi possível abrir", "pt"},
      {"o trabalho atual", "pt"},
      {"Non se atopou o ficheiro", "gl"},
      {"unha cadea baleira", "gl"},
      {"Xestor de ventás", "gl"},
      {"Canvia la contrasenya", "ca"},
      {"obre l'arxiu nou", "ca"},
      {"col·lecció de fitxers", "ca"},
      {"Paràmetres del sistema", "ca"},
      {"gli utenti attivi", "it"},
      {"che non esiste", "it"},
      {"Impostazioni della rete", "it"},
      {"het bestand openen", "nl"},
      {"Kies een map", "nl"},
      // Longer sentences keep CLD2's answer of a relative.
      {"El govern ha aprovat avui el pressupost per a l'any vinent.", "ca"},
      {"Non se pode abrir o ficheiro porque xa está en uso.", "gl"},
  });
}

TEST(RecogniserTest, InvalidOrUnusualBytesAreHarmless) {
  expectAll({
      // Invalid sequences and control characters in the middle do not hide the text after them.
      {"\xff\xfe Der schnelle braune Fuchs springt über den faulen Hund", "de"},
      {"The quick brown fox \xc3 jumps over the lazy dog and runs away", "en"},
      {"El rápido \x01 zorro marrón salta sobre el perro perezoso", "es"},
      {"Le renard brun \xef\xbf\xbe saute par-dessus le chien paresseux", "fr"},
      {"\xed\xa0\x80\xed\xb0\x80", std::nullopt},  // encoded surrogates
      {"\xc0\xaf\xe0\x80\xaf", std::nullopt},      // overlong forms
      {"电脑\xe7\x94", "zh-Hans"},                 // cut in the middle of a character
      {std::string_view("Hello\0world, how are you today", 30), "en"},
  });

  // Random bytes, and random mixtures of valid pieces and garbage, never crash and give either
  // none or a well-formed code.
  const std::vector<std::string> pieces = {
      "Hello ", "电脑", "の", "한", "\xff", "\xe7\x94", "\x01", "—", "é", "Ω", "\xf4\x90\x80\x80"};
  std::mt19937 random(7);
  for (int round = 0; round < 500; ++round) {
    std::string text;
    const int length = static_cast<int>(random() % 64);
    for (int i = 0; i < length; ++i) {
      if (round % 2 == 0) {
        text.push_back(static_cast<char>(random() % 256));
      } else {
        text += pieces[random() % pieces.size()];
      }
    }
    const std::optional<std::string> language = recognise(text);
    if (language.has_value()) {
      EXPECT_FALSE(language->empty());
      EXPECT_NE(*language, "zh");
    }
  }
}

}  // namespace
}  // namespace talvori
