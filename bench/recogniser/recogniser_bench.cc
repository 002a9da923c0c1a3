// Accuracy and speed of the language recogniser.
//
// Usage: recogniser_bench [EVAL_SET.tsv] [--benchmark_...]
// First prints accuracy per language and length on a label<TAB>text evaluation set (by default the
// one bench/recogniser/make_eval_set.py wrote into the source tree), then runs the timings.
#include <array>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>

#include "platform/recogniser/recogniser.h"

namespace talvori {
namespace {

struct Sample {
  std::string label;
  std::string text;
};

std::vector<Sample> readEvalSet(const std::string& path) {
  std::vector<Sample> samples;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    const size_t tab = line.find('\t');
    if (tab != std::string::npos) samples.push_back({line.substr(0, tab), line.substr(tab + 1)});
  }
  return samples;
}

size_t codePoints(std::string_view text) {
  size_t n = 0;
  for (char c : text) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

bool hasKana(std::string_view text) {
  // Hiragana and katakana are U+3040..U+30FF: E3 81 80 .. E3 83 BF in UTF-8.
  for (size_t i = 0; i + 2 < text.size(); ++i) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    const auto b1 = static_cast<unsigned char>(text[i + 1]);
    if (b0 == 0xE3 && b1 >= 0x81 && b1 <= 0x83) return true;
  }
  return false;
}

std::string recognise(std::string_view text) {
  std::unique_ptr<LanguageRecogniser> recogniser = makeRecogniser();
  recogniser->processString(text);
  return recogniser->dominantLanguage().value_or("(none)");
}

// Length classes of the tables, in code points.
enum Length { kWord, kShort, kLong };
constexpr std::array<const char*, 3> kLengthNames = {"1-4", "5-19", ">= 20"};

Length lengthOf(std::string_view text) {
  const size_t n = codePoints(text);
  return n < 5 ? kWord : n < 20 ? kShort : kLong;
}

void printAccuracy(const std::vector<Sample>& samples) {
  struct Tally {
    int total = 0;
    int correct = 0;
    std::map<std::string, int> wrong;
  };
  std::map<std::pair<std::string, Length>, Tally> tallies;
  int kanaCalledChinese = 0;
  // Texts in other languages (a control set) that are given one of the main Latin-script ones,
  // and of them those given English, by length class.
  const std::set<std::string> main = {"en", "es", "fr", "de"};
  std::array<int, 3> others{};
  std::array<int, 3> othersCalledMain{};
  std::array<int, 3> othersCalledEnglish{};
  for (const Sample& sample : samples) {
    const std::string answer = recognise(sample.text);
    const Length length = lengthOf(sample.text);
    if (!main.contains(sample.label)) {
      ++others[length];
      othersCalledMain[length] += main.contains(answer);
      othersCalledEnglish[length] += answer == "en";
    }
    Tally& tally = tallies[{sample.label, length}];
    ++tally.total;
    if (answer == sample.label) {
      ++tally.correct;
    } else {
      ++tally.wrong[answer];
    }
    if (hasKana(sample.text) && answer.starts_with("zh")) ++kanaCalledChinese;
  }
  std::printf("| language | length | texts | correct | accuracy | wrong answers |\n");
  std::printf("| --- | --- | --- | --- | --- | --- |\n");
  for (const auto& [key, tally] : tallies) {
    std::string wrong;
    for (const auto& [answer, n] : tally.wrong) {
      wrong += (wrong.empty() ? "" : ", ") + answer + " " + std::to_string(n);
    }
    std::printf("| %s | %s | %d | %d | %.1f%% | %s |\n", key.first.c_str(),
                kLengthNames[key.second], tally.total, tally.correct,
                100.0 * tally.correct / tally.total, wrong.c_str());
  }
  std::printf("\nTexts with kana called Chinese: %d\n", kanaCalledChinese);
  std::printf("Other languages called en, es, fr or de (of them en), by length:");
  for (int length : {kWord, kShort, kLong}) {
    std::printf(" %s: %d (%d) of %d%s", kLengthNames[length], othersCalledMain[length],
                othersCalledEnglish[length], others[length], length == kLong ? "\n\n" : ";");
  }
  std::fflush(stdout);
}

std::vector<Sample>& evalSet() {
  static auto* samples = new std::vector<Sample>;
  return *samples;
}

// About `size` bytes of the evaluation set's long texts in `label`, joined by spaces.
std::string longText(const std::string& label, size_t size) {
  std::string text;
  while (text.size() < size) {
    const size_t before = text.size();
    for (const Sample& sample : evalSet()) {
      if (sample.label == label && codePoints(sample.text) >= 20 && text.size() < size) {
        text += sample.text;
        text += ' ';
      }
    }
    if (text.size() == before) break;
  }
  return text;
}

// A new recogniser per text, as the queue does.
void runRecogniser(benchmark::State& state, const std::string& text) {
  if (text.empty()) {
    state.SkipWithError("no text for this language in the evaluation set");
    return;
  }
  for (auto _ : state) {
    std::unique_ptr<LanguageRecogniser> recogniser = makeRecogniser();
    recogniser->processString(text);
    benchmark::DoNotOptimize(recogniser->dominantLanguage());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

// Texts of about 100 bytes.
const std::vector<std::pair<std::string, std::string>> kShortTexts = {
    {"en",
     "The quick brown fox jumps over the lazy dog while the farmer watches from the old red barn "
     "door."},
    {"es",
     "El rápido zorro marrón salta sobre el perro perezoso mientras el granjero mira desde la "
     "casa."},
    {"de",
     "Der schnelle braune Fuchs springt über den faulen Hund, während der alte Bauer ruhig "
     "zusieht."},
    {"fr",
     "Le renard brun rapide saute par-dessus le chien paresseux pendant que le vieux fermier "
     "regarde."},
    {"zh-Hans", "敏捷的棕色狐狸跳过了懒惰的狗，农夫在旁边看着它们玩耍，觉得很开心。"},
    {"zh-Hant", "敏捷的棕色狐狸跳過了懶惰的狗，農夫在旁邊看著牠們玩耍，覺得很開心。"},
    {"ja", "素早い茶色の狐が怠け者の犬を飛び越え、農夫がそれを静かに見ている。"},
};

// Interface strings of a few words, which the recogniser also looks up word by word.
const std::vector<std::pair<std::string, std::string>> kWordTexts = {
    {"en", "Page title"},
    {"es", "Archivos recientes abiertos"},
    {"fr", "Paramètres de l'imprimante"},
    {"de", "Druckereinstellungen speichern"},
};

void registerBenchmarks() {
  for (const auto& [label, text] : kWordTexts) {
    benchmark::RegisterBenchmark(
        ("ShortWords/" + label).c_str(),
        [text = text](benchmark::State& state) { runRecogniser(state, text); });
  }
  for (const auto& [label, text] : kShortTexts) {
    benchmark::RegisterBenchmark(
        ("Short100Bytes/" + label).c_str(),
        [text = text](benchmark::State& state) { runRecogniser(state, text); });
  }
  // The largest texts that CLD2 reads whole.
  for (const char* label : {"en", "es", "de", "fr"}) {
    std::string text = longText(label, 16 * 1024);
    if (!text.empty()) text.resize(text.rfind(' ', 16 * 1024));  // none in a control set
    benchmark::RegisterBenchmark((std::string("Long16KiB/") + label).c_str(),
                                 [text](benchmark::State& state) { runRecogniser(state, text); });
  }
  for (const char* label : {"en", "es", "de", "fr", "zh-Hans", "zh-Hant", "ja"}) {
    const std::string text = longText(label, 1 << 20);
    benchmark::RegisterBenchmark((std::string("Long1MiB/") + label).c_str(),
                                 [text](benchmark::State& state) { runRecogniser(state, text); })
        ->Unit(benchmark::kMillisecond);
  }
}

}  // namespace
}  // namespace talvori

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  std::string path = TALVORI_SOURCE_DIR "/bench/recogniser/eval_set.tsv";
  if (argc > 1) path = argv[1];
  talvori::evalSet() = talvori::readEvalSet(path);
  if (talvori::evalSet().empty()) {
    std::fprintf(stderr, "no evaluation set at %s\n", path.c_str());
    return 1;
  }
  std::printf("Evaluation set: %s (%zu texts)\n\n", path.c_str(), talvori::evalSet().size());
  talvori::printAccuracy(talvori::evalSet());
  talvori::registerBenchmarks();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
