// Engine benchmark: the Apertium service's warm latency on real Spanish sentences and on a
// 10,000-character text, through the service's public interface and the main queue.
//
// Usage: apertium_bench SENTENCES OUT_DIR [PASSES]
// Reads one sentence per line; writes OUT_DIR/warm.txt (one translation per line, in order),
// OUT_DIR/long.txt (the 10,000-character text) and OUT_DIR/long_translated.txt, and prints the
// timings as one JSON object. bench/apertium/run_engine_bench.py compares them with the apertium
// command and with apertium-apy.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "platform/apertium/apertium_service.h"
#include "tests/fakes/manual_main_queue.h"

namespace {

using Clock = std::chrono::steady_clock;

double medianMs(std::vector<double> samples) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  const std::size_t middle = samples.size() / 2;
  return samples.size() % 2 ? samples[middle] : (samples[middle - 1] + samples[middle]) / 2;
}

// Translates `text` and gives the answer with the time from the call to the answer's delivery
// on the main thread.
std::optional<std::string> timed(talvori::testing::ManualMainQueue& queue,
                                 talvori::TranslationSession& session, const std::string& text,
                                 double& milliseconds) {
  std::optional<std::optional<std::string>> answer;
  const auto start = Clock::now();
  session.translate(text, [&](std::optional<std::string> result) { answer = std::move(result); });
  queue.runUntil([&] { return answer.has_value(); }, std::chrono::seconds(60));
  milliseconds = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  return answer.value_or(std::nullopt);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: " << argv[0] << " SENTENCES OUT_DIR [PASSES]\n";
    return 2;
  }
  const std::string outDir = argv[2];
  const int passes = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
  std::vector<std::string> sentences;
  {
    std::ifstream in(argv[1]);
    for (std::string line; std::getline(in, line);) {
      if (!line.empty()) sentences.push_back(line);
    }
  }
  if (sentences.empty()) {
    std::cerr << "no sentences in " << argv[1] << "\n";
    return 2;
  }

  talvori::testing::ManualMainQueue queue;
  auto service = talvori::makeApertiumService(queue);
  const talvori::TranslationConfiguration configuration(talvori::Language("es"),
                                                        talvori::Language("en"));
  double ms = 0;
  {
    auto session = service->makeSession(configuration);
    timed(queue, *session, sentences.front(), ms);
  }
  const double coldStartMs = ms;

  std::vector<double> warm;
  std::vector<std::string> translations(sentences.size());
  int failures = 0;
  for (int pass = 0; pass < passes; ++pass) {
    for (std::size_t i = 0; i < sentences.size(); ++i) {
      auto session = service->makeSession(configuration);  // one per request, as dispatched
      const auto answer = timed(queue, *session, sentences[i], ms);
      warm.push_back(ms);
      if (!answer) ++failures;
      if (pass == 0) translations[i] = answer.value_or("<failed>");
    }
  }
  std::ofstream(outDir + "/warm.txt") << [&] {
    std::string all;
    for (const std::string& t : translations) all += t + "\n";
    return all;
  }();

  std::string longText;
  for (std::size_t i = 0; longText.size() < 14000; i = (i + 1) % sentences.size()) {
    longText += sentences[i];
    longText += i % 5 == 4 ? "\n\n" : " ";
  }
  // Cut at 10,000 characters, not bytes, and not inside a UTF-8 sequence.
  std::size_t characters = 0, cut = 0;
  while (cut < longText.size() && characters < 10000) {
    ++cut;
    while (cut < longText.size() && (static_cast<unsigned char>(longText[cut]) & 0xC0) == 0x80) {
      ++cut;
    }
    ++characters;
  }
  longText.resize(cut);
  std::vector<double> longTimes;
  std::string longTranslation = "<failed>";
  for (int i = 0; i < 5; ++i) {
    auto session = service->makeSession(configuration);
    const auto answer = timed(queue, *session, longText, ms);
    longTimes.push_back(ms);
    if (answer) longTranslation = *answer;
  }
  std::ofstream(outDir + "/long.txt") << longText;
  std::ofstream(outDir + "/long_translated.txt") << longTranslation;

  std::printf(
      "{\"sentences\": %zu, \"passes\": %d, \"failures\": %d, \"first_ms\": %.2f, "
      "\"warm_median_ms\": %.3f, \"warm_max_ms\": %.3f, \"long_chars\": %zu, "
      "\"long_median_ms\": %.2f}\n",
      sentences.size(), passes, failures, coldStartMs, medianMs(warm),
      *std::max_element(warm.begin(), warm.end()), characters, medianMs(longTimes));
  return failures == 0 ? 0 : 1;
}
