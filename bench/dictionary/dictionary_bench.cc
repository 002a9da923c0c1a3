// The dictionary engine through its translation-service interface: how well it answers the
// evaluation sets, how long its first answer takes after start-up, and how long each answer
// takes once the index is open. Each request makes its own session and is timed until its
// answer is delivered on the main queue, as the queue's dispatch sees it.
//
//   dictionary_bench [SET.tsv ...] [--answers=FILE] [--index=FILE] [benchmark flags]
//
// A set line is: direction (en>zh-Hans, zh-Hans>en, zh-Hant>en), text, accepted answers joined
// by "|", kind (word or name), sources, and synonyms of the accepted answers joined by "|". An
// answer is acceptable when one of its alternatives ("；" between Chinese words, "; " between
// English glosses) matches an accepted answer (see acceptable()); the fair count also accepts
// synonyms (see synonymous()).
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "platform/dictionary/dictionary_index.h"
#include "platform/dictionary/dictionary_service.h"
#include "platform/dictionary/dictionary_text.h"
#include "tests/fakes/manual_main_queue.h"

namespace talvori {
namespace {

std::filesystem::path kIndex =
    std::filesystem::path(TALVORI_BINARY_DIR) / "share" / "talvori" / kDictionaryIndexName;

struct Item {
  std::string direction;
  std::string text;
  std::vector<std::string> accepted;
  std::string kind;
  std::vector<std::string> synonyms;
};

std::vector<std::string> split(const std::string& text, const std::string& separator) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  while (true) {
    const std::size_t at = text.find(separator, start);
    pieces.push_back(text.substr(start, at - start));
    if (at == std::string::npos) return pieces;
    start = at + separator.size();
  }
}

std::vector<Item> readSet(const std::string& path) {
  std::vector<Item> items;
  std::ifstream file(path);
  std::string line;
  while (std::getline(file, line)) {
    const std::vector<std::string> fields = split(line, "\t");
    if (fields.size() < 3) continue;
    Item item{fields[0], fields[1], split(fields[2], "|"), fields.size() > 3 ? fields[3] : "", {}};
    if (fields.size() > 5 && !fields[5].empty()) item.synonyms = split(fields[5], "|");
    items.push_back(std::move(item));
  }
  return items;
}

TranslationConfiguration configurationFor(const std::string& direction) {
  const std::vector<std::string> pair = split(direction, ">");
  return TranslationConfiguration(Language(pair[0]), Language(pair[1]));
}

// Translates one text with a fresh session and runs the main queue until the answer arrives.
std::optional<std::string> translate(TranslationService& service, testing::ManualMainQueue& queue,
                                     const TranslationConfiguration& configuration,
                                     const std::string& text) {
  std::optional<std::string> answer;
  auto session = service.makeSession(configuration);
  session->translate(text, [&answer](std::optional<std::string> result) { answer = result; });
  queue.runAll();
  return answer;
}

// The words of an English text, lower case, each without a plural "s".
std::vector<std::string> words(const std::string& text) {
  std::vector<std::string> out;
  std::string key = englishKey(text);
  if (key.starts_with("to ")) key.erase(0, 3);
  for (std::string& word : split(key, " ")) {
    if (word.size() > 3 && word.ends_with("s") && !word.ends_with("ss")) word.pop_back();
    if (!word.empty()) out.push_back(std::move(word));
  }
  return out;
}

// Chinese: an alternative is an accepted answer (a trailing adjective 的 or a place's
// administrative suffix aside). English: a gloss
// holds an accepted answer's words in a row ("Print" in "to print out", "Fiji" in "Fiji").
bool acceptable(const Item& item, const std::string& answer) {
  const bool chinese = item.direction.ends_with("zh-Hans");
  // "无效" is "无效的"; "石川" is "石川县" (Ishikawa, the prefecture).
  const auto bare = [](std::string key) {
    for (std::string_view suffix : {"的", "省", "州", "县", "市", "区", "郡", "府"}) {
      if (key.ends_with(suffix) && key.size() > suffix.size()) {
        key.erase(key.size() - suffix.size());
        break;
      }
    }
    return key;
  };
  for (const std::string& alternative : split(answer, chinese ? "；" : "; ")) {
    for (const std::string& accepted : item.accepted) {
      if (chinese) {
        if (bare(chineseKey(alternative)) == bare(chineseKey(accepted))) return true;
        continue;
      }
      const std::vector<std::string> have = words(alternative), want = words(accepted);
      if (want.empty() || want.size() > have.size()) continue;
      for (std::size_t at = 0; at + want.size() <= have.size(); ++at) {
        if (std::equal(want.begin(), want.end(), have.begin() + at)) return true;
      }
    }
  }
  return false;
}

// The first gloss of an English answer, as words.
std::vector<std::string> firstGloss(const std::string& english) {
  return words(split(english, "; ").front());
}

// Fairer than acceptable(), for answers that are right in general though the catalogues word
// them otherwise. Into English: a gloss is a WordNet synonym of an accepted answer ("child" for
// "Kids", "complete" for "Finished"). Into Chinese: the answer and an accepted translation are
// both words whose first meaning in the dictionary is the text itself (电脑 and 计算机 for
// "computer"), or they name the same language with 语 and 文 ("法文", "法语").
bool synonymous(const Item& item, const std::string& answer, DictionaryIndex& index) {
  const bool chinese = item.direction.ends_with("zh-Hans");
  if (!chinese) {
    for (const std::string& gloss : split(answer, "; ")) {
      std::string key = englishKey(gloss);
      if (key.starts_with("to ")) key.erase(0, 3);
      for (const std::string& synonym : item.synonyms) {
        if (key == synonym || words(key) == words(synonym)) return true;
      }
    }
    return false;
  }
  const std::vector<std::string> query = words(item.text);
  const auto language = [](std::string key) {
    if (key.ends_with("文") && key.size() > 3) key.replace(key.size() - 3, 3, "语");
    return key;
  };
  for (const std::string& alternative : split(answer, "；")) {
    const std::optional<std::string> own = index.englishFor(chineseKey(alternative));
    for (const std::string& accepted : item.accepted) {
      if (language(chineseKey(alternative)) == language(chineseKey(accepted))) return true;
      const std::optional<std::string> theirs = index.englishFor(chineseKey(accepted));
      if (own && theirs && firstGloss(*own) == query && firstGloss(*theirs) == query) return true;
    }
  }
  return false;
}

void evaluate(const std::vector<std::string>& sets, const std::string& answersPath) {
  testing::ManualMainQueue queue;
  auto service = makeDictionaryService(queue, {kIndex});
  const std::unique_ptr<DictionaryIndex> index = DictionaryIndex::open(kIndex);
  if (!index) {
    std::printf("cannot open %s\n", kIndex.c_str());
    return;
  }
  std::ofstream answers;
  if (!answersPath.empty()) answers.open(answersPath);
  std::printf(
      "| set | direction | kind | items | answered | precision | recall | fair precision | fair "
      "recall |\n");
  std::printf("|---|---|---|---|---|---|---|---|---|\n");
  for (const std::string& path : sets) {
    // (direction, kind): items, answered, acceptable, acceptable counted fairly
    std::map<std::pair<std::string, std::string>, std::array<int, 4>> counts;
    for (const Item& item : readSet(path)) {
      const std::optional<std::string> answer =
          translate(*service, queue, configurationFor(item.direction), item.text);
      const bool good = answer && acceptable(item, *answer);
      const bool fair = good || (answer && synonymous(item, *answer, *index));
      for (const std::string& kind : {std::string("all"), item.kind}) {
        auto& count = counts[{item.direction, kind}];
        ++count[0];
        count[1] += answer.has_value();
        count[2] += good;
        count[3] += fair;
      }
      if (answers.is_open()) {
        answers << path.substr(path.rfind('/') + 1) << '\t' << item.direction << '\t' << item.kind
                << '\t' << item.text << '\t' << (answer ? *answer : "-") << '\t'
                << (answer ? (good   ? "ok"
                              : fair ? "fair"
                                     : "WRONG?")
                           : "none")
                << '\t';
        for (const auto& accepted : item.accepted) answers << accepted << '|';
        answers << '\n';
      }
    }
    const std::string name = path.substr(path.rfind('/') + 1);
    for (const auto& [key, count] : counts) {
      const double answered = count[1] ? count[1] : 1;
      std::printf("| %s | %s | %s | %d | %.2f | %.3f | %.3f | %.3f | %.3f |\n", name.c_str(),
                  key.first.c_str(), key.second.c_str(), count[0], double(count[1]) / count[0],
                  count[2] / answered, double(count[2]) / count[0], count[3] / answered,
                  double(count[3]) / count[0]);
    }
  }
  std::printf("\n");
}

// The first answer of a fresh service, index opening included: with the index in the page cache
// (as after any earlier run), and with its pages dropped from the cache first.
void firstAnswer() {
  for (const bool dropped : {false, true}) {
    std::vector<double> times;
    for (int run = 0; run < 25; ++run) {
      if (dropped) {
        const int fd = ::open(kIndex.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
          ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
          ::close(fd);
        }
      }
      testing::ManualMainQueue queue;
      const auto began = std::chrono::steady_clock::now();
      auto service = makeDictionaryService(queue, {kIndex});
      const auto answer = translate(*service, queue, configurationFor("zh-Hans>en"), "电脑");
      times.push_back(
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - began)
              .count());
      if (!answer) std::printf("no answer for 电脑\n");
    }
    std::sort(times.begin(), times.end());
    std::printf(
        "first answer after start-up, index %s: median %.3f ms (min %.3f, max %.3f, 25 runs)\n",
        dropped ? "dropped from the page cache" : "in the page cache", times[12], times.front(),
        times.back());
  }
  std::printf("\n");
}

// Texts to time: the dev set's texts for `direction`, or a few words when it is absent.
std::vector<std::string> textsFor(const std::string& direction) {
  std::vector<std::string> texts;
  for (const Item& item : readSet(TALVORI_SOURCE_DIR "/bench/dictionary/dev_set.tsv")) {
    if (item.direction == direction) texts.push_back(item.text);
  }
  if (texts.empty()) texts = {"电脑", "德国", "画蛇添足", "computer", "Germany"};
  return texts;
}

void timeRequests(benchmark::State& state, const std::string& direction) {
  testing::ManualMainQueue queue;
  auto service = makeDictionaryService(queue, {kIndex});
  const std::vector<std::string> texts = textsFor(direction);
  const TranslationConfiguration configuration = configurationFor(direction);
  translate(*service, queue, configuration, texts[0]);  // opens the index
  std::size_t next = 0, answered = 0;
  for (auto _ : state) {
    answered += translate(*service, queue, configuration, texts[next]).has_value();
    next = (next + 1) % texts.size();
  }
  state.counters["answered"] = double(answered) / double(state.iterations());
}

void BM_ChineseToEnglish(benchmark::State& state) { timeRequests(state, "zh-Hans>en"); }
void BM_TraditionalToEnglish(benchmark::State& state) { timeRequests(state, "zh-Hant>en"); }
void BM_EnglishToChinese(benchmark::State& state) { timeRequests(state, "en>zh-Hans"); }
BENCHMARK(BM_ChineseToEnglish);
BENCHMARK(BM_TraditionalToEnglish);
BENCHMARK(BM_EnglishToChinese);

}  // namespace
}  // namespace talvori

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  std::vector<std::string> sets;
  std::string answers;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument.starts_with("--answers=")) {
      answers = argument.substr(10);
    } else if (argument.starts_with("--index=")) {
      talvori::kIndex = argument.substr(8);
    } else {
      sets.push_back(argument);
    }
  }
  if (!sets.empty()) talvori::evaluate(sets, answers);
  talvori::firstAnswer();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
