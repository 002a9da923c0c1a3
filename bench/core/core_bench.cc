// Micro-benchmarks of the request path: decoding, admission, dispatch and reply writing.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <memory>
#include <string>

#include <benchmark/benchmark.h>
#include <unicode/brkiter.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>

#include "protocol/descriptor_reply_sink.h"
#include "protocol/request.h"
#include "protocol/request_reader.h"
#include "queue/model.h"
#include "queue/text_measure.h"
#include "tests/fakes/fake_translation_service.h"
#include "tests/fakes/manual_main_queue.h"

namespace talvori {
namespace {

class AlwaysEnglish : public LanguageRecogniser {
 public:
  void processString(std::string_view) override {}
  std::optional<std::string> dominantLanguage() override { return "en"; }
};

// A 100-byte request line answered by the same-language shortcut: decode, admit, dispatch,
// encode and write the reply to /dev/null, then run the scheduled dispatch.
void BM_ShortcutRequest(benchmark::State& state) {
  const std::string line =
      R"({"id":"req-000123","text":"The quick brown fox jumps over the lazy dog.","target":"en"})"
      "          ";
  const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  DescriptorReplySink replies(devNull);
  testing::ManualMainQueue queue;
  testing::FakeTranslationService service(queue);
  Model model({[] { return std::make_unique<AlwaysEnglish>(); }, service, queue, replies});
  for (auto _ : state) {
    auto request = decodeRequest(line);
    model.enqueue(std::move(*request));
    queue.runOne();
  }
  state.SetItemsProcessed(state.iterations());
  state.SetLabel(std::to_string(line.size()) + "-byte line");
  close(devNull);
}
BENCHMARK(BM_ShortcutRequest);

// The admission measures of one text: blank test and grapheme count with the limit.
void admission(benchmark::State& state, const std::string& text) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(isBlank(text));
    benchmark::DoNotOptimize(countCharacters(text, kMaxTextCharacters));
  }
}

std::string repeated(std::string_view piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

void BM_AdmitAscii10k(benchmark::State& state) { admission(state, repeated("abcd efgh\r\n", 910)); }
BENCHMARK(BM_AdmitAscii10k);

void BM_AdmitCjk10k(benchmark::State& state) { admission(state, repeated("漢字", 5000)); }
BENCHMARK(BM_AdmitCjk10k);

void BM_AdmitCombining10k(benchmark::State& state) {
  admission(state, repeated("e\xCC\x81", 10000));
}
BENCHMARK(BM_AdmitCombining10k);

void BM_AdmitZwjEmoji10k(benchmark::State& state) {
  admission(state, repeated("👩‍👩‍👧‍👦", 10000));
}
BENCHMARK(BM_AdmitZwjEmoji10k);

// What the grapheme count is built around, with ICU's break iterator alone: making one, and
// counting the 10,000 combining clusters of BM_AdmitCombining10k over UTF-16 (converted first)
// and over UTF-8 through UText.
void BM_MakeBreakIterator(benchmark::State& state) {
  for (auto _ : state) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> iterator(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    benchmark::DoNotOptimize(iterator.get());
  }
}
BENCHMARK(BM_MakeBreakIterator);

int countWith(icu::BreakIterator& iterator) {
  int count = 0;
  iterator.first();
  while (iterator.next() != icu::BreakIterator::DONE) ++count;
  return count;
}

void BM_IteratorCombining10kUtf16(benchmark::State& state) {
  const std::string text = repeated("e\xCC\x81", 10000);
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::BreakIterator> iterator(
      icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  for (auto _ : state) {
    const icu::UnicodeString utf16 = icu::UnicodeString::fromUTF8(text);
    iterator->setText(utf16);
    benchmark::DoNotOptimize(countWith(*iterator));
  }
}
BENCHMARK(BM_IteratorCombining10kUtf16);

void BM_IteratorCombining10kUText(benchmark::State& state) {
  const std::string text = repeated("e\xCC\x81", 10000);
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::BreakIterator> iterator(
      icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  for (auto _ : state) {
    UText utext = UTEXT_INITIALIZER;
    utext_openUTF8(&utext, text.data(), static_cast<int64_t>(text.size()), &status);
    iterator->setText(&utext, status);
    benchmark::DoNotOptimize(countWith(*iterator));
    utext_close(&utext);
  }
}
BENCHMARK(BM_IteratorCombining10kUText);

// Reading and decoding one long request line: the time per byte stays flat as lines grow.
void BM_ReadAndDecodeLongLine(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  const std::string line = R"({"id":"1","target":"en","text":")" + std::string(size, 'x') + "\"}\n";
  const int fd = memfd_create("line", MFD_CLOEXEC);
  if (write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
    state.SkipWithError("write failed");
  }
  for (auto _ : state) {
    lseek(fd, 0, SEEK_SET);
    LineReader reader(fd);
    auto read = reader.readLine();
    auto request = decodeRequest(*read);
    benchmark::DoNotOptimize(request);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(line.size()));
  close(fd);
}
BENCHMARK(BM_ReadAndDecodeLongLine)->Arg(1 << 20)->Arg(10 << 20)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace talvori

BENCHMARK_MAIN();
