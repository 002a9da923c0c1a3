// Fuzzes the whole intake path: bytes on standard input are read as lines, decoded and handed to
// the model, whose fake services answer in an order and with outcomes drawn from the input. Checks
// that lines are split as written, that every reply line is a well-formed reply to a decoded
// request, that no request is answered twice, and that once every answer has come in each
// decoded request has had exactly one reply.
#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "base/utf8.h"
#include "protocol/request.h"
#include "protocol/request_reader.h"
#include "queue/model.h"
#include "queue/translation_hook.h"
#include "tests/fakes/fake_recogniser.h"
#include "tests/fakes/fake_translation_service.h"
#include "tests/fakes/manual_main_queue.h"
#include "tests/fakes/memory_reply_sink.h"
#include "tests/fuzz/fuzz_common.h"

namespace talvori::fuzz {
namespace {

std::uint64_t hashOf(std::string_view bytes) {
  std::uint64_t hash = 14695981039346656037ULL;
  for (char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
  return hash;
}

// The lines a host wrote: cut at line feeds, one carriage return before each dropped, a last
// line without a line feed kept.
std::vector<std::string> linesOf(std::string_view input) {
  std::vector<std::string> lines;
  while (!input.empty()) {
    const std::size_t end = input.find('\n');
    std::string line(input.substr(0, end));
    if (end != std::string_view::npos && !line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
  }
  return lines;
}

bool isKnownError(const std::string& error) {
  return error == kInvalidRequestError || error == kQueueFullError || error == kUnsupportedError ||
         error == kTranslationFailedError;
}

class Intake {
 public:
  explicit Intake(std::uint64_t seed) : random_(seed) {}

  // Reads `input` to its end, stepping the main queue and the services between lines.
  void run(std::string_view input) {
    static constexpr std::array<std::size_t, 6> kBufferSizes = {1, 2, 3, 7, 64, 64 * 1024};
    static MemoryFile in;
    in.reset(input);
    LineReader reader(in.fd(), kBufferSizes[random_() % kBufferSizes.size()]);
    std::vector<std::string> lines;
    while (auto line = reader.readLine()) {
      lines.push_back(*line);
      if (auto request = decodeRequest(*line)) {
        ++decoded_[request->id];
        queue_.post([this, request = std::move(*request)]() mutable {
          recogniser_.set(request.text, pickLanguage(request.text));
          model_.enqueue(std::move(request));
        });
      }
      step();
    }
    check(lines == linesOf(input), "lines differ from those written");
    checkReplies(/*all=*/false);
    // The agent ends here; to check that nothing would be lost, answer everything still open.
    for (int round = 0; round < 10000; ++round) {
      const bool open = service_.pendingStatus() > 0 || service_.pendingTranslations() > 0;
      if (queue_.runAll() == 0 && !open) break;
      while (service_.pendingStatus() > 0) service_.answerStatus(pickStatus());
      while (service_.pendingTranslations() > 0) service_.answerTranslation(pickTranslation());
    }
    check(queue_.pending() == 0 && !model_.current() && model_.requests().empty(),
          "the queue did not settle");
    checkReplies(/*all=*/true);
  }

 private:
  std::string pickLanguage(std::string_view text) {
    static constexpr std::array<const char*, 5> kLanguages = {"", "en", "es", "zh-Hans", "zh-Hant"};
    return kLanguages[hashOf(text) % kLanguages.size()];
  }

  std::optional<AvailabilityStatus> pickStatus() {
    switch (random_() % 4) {
      case 0:
        return AvailabilityStatus::installed;
      case 1:
        return AvailabilityStatus::supported;
      case 2:
        return AvailabilityStatus::unsupported;
    }
    return std::nullopt;
  }

  std::optional<std::string> pickTranslation() {
    if (random_() % 4 == 0) return std::nullopt;
    return "translated";
  }

  // Runs a few main-queue jobs and answers a few open questions, as time would pass.
  void step() {
    for (auto n = random_() % 4; n > 0; --n) queue_.runOne();
    if (service_.pendingStatus() > 0 && random_() % 2 == 0) service_.answerStatus(pickStatus());
    if (service_.pendingTranslations() > 0 && random_() % 2 == 0) {
      service_.answerTranslation(pickTranslation());
    }
  }

  void checkReplies(bool all) {
    std::map<std::string, int> answered;
    for (const Reply& reply : parseReplies(transcript_ += out_.take())) {
      ++answered[reply.id()];
      if (reply.error()) check(isKnownError(*reply.error()), "unknown error", *reply.error());
    }
    for (const auto& [id, count] : answered) {
      const auto found = decoded_.find(id);
      check(found != decoded_.end(), "a reply to no request", id);
      check(count <= found->second, "more replies than requests", id);
    }
    if (all) check(answered == decoded_, "a decoded request was never answered");
  }

  std::minstd_rand random_;
  std::map<std::string, int> decoded_;  // requests decoded, by id
  testing::MemoryReplySink out_;
  std::string transcript_;  // every reply line so far
  testing::ManualMainQueue queue_;
  testing::FakeRecogniser recogniser_;
  testing::FakeTranslationService service_{queue_};
  Model model_{{recogniser_.factory(), service_, queue_, out_}};
  TranslationHook hook_{model_, service_};
};

}  // namespace
}  // namespace talvori::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  talvori::fuzz::Intake intake(talvori::fuzz::hashOf(input));
  intake.run(input);
  return 0;
}
