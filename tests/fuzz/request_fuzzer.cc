// Fuzzes one request line: decoding, checked against the JSON library's own parse (the oracle in
// tests/protocol/json_oracle.h), and admission by the model, checked for the reply it gives at
// once.
#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "base/utf8.h"
#include "protocol/request.h"
#include "queue/model.h"
#include "tests/fakes/fake_recogniser.h"
#include "tests/fakes/fake_translation_service.h"
#include "tests/fakes/manual_main_queue.h"
#include "tests/fakes/memory_reply_sink.h"
#include "tests/fuzz/fuzz_common.h"
#include "tests/protocol/json_oracle.h"

namespace talvori::fuzz {
namespace {

const std::string kVisibleAscii = [] {
  std::string all;
  for (char c = '!'; c <= '~'; ++c) all += c;
  return all;
}();

void admit(const Request& request) {
  testing::MemoryReplySink out;
  testing::ManualMainQueue queue;
  testing::FakeRecogniser recogniser;
  // Every text counts as English, so an English target is answered during admission.
  recogniser.set(request.text, "en");
  testing::FakeTranslationService service(queue);
  {
    Model model({recogniser.factory(), service, queue, out});
    model.enqueue(request);
    const auto replies = parseReplies(out.take());
    check(replies.size() <= 1, "more than one reply to one request");
    if (replies.empty()) {
      check(model.current() == request, "a request neither answered nor current");
      check(request.target != Target::english,
            "an English text for English was not answered at once");
    } else {
      std::string id = request.id;
      check(replies[0].id() == repairUtf8(std::move(id)), "reply id differs", replies[0].id());
      check(!model.current() && model.requests().empty(), "answered but still queued");
      if (replies[0].text()) {
        check(request.target == Target::english, "answered at once for another target");
        check(*replies[0].text() == request.text, "the shortcut changed the text");
      } else {
        check(*replies[0].error() == kInvalidRequestError, "refused for another reason");
        // Characters never outnumber bytes, and a visible ASCII character is never blank.
        const bool plainlyValid = request.target != Target::unsupported &&
                                  request.text.size() <= kMaxTextCharacters &&
                                  request.id.size() <= kMaxIdCharacters &&
                                  request.text.find_first_of(kVisibleAscii) != std::string::npos;
        check(!plainlyValid, "a valid request was refused", request.text);
      }
    }
    check(queue.pending() <= 1, "admission posted more than one job");
  }
}

}  // namespace
}  // namespace talvori::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace talvori;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::optional<Request> decoded = decodeRequest(bytes);
  // Ill-formed bytes must count as U+FFFD would; the library, which needs valid UTF-8, sees
  // them replaced.
  const std::string line = repairUtf8(std::string(bytes));
  fuzz::check(decodeRequest(line) == decoded, "ill-formed bytes decode unlike U+FFFD", line);
  const std::optional<Request> expected = testing::referenceRequest(line);
  fuzz::check(decoded.has_value() == expected.has_value(), "decoding disagrees with the parser",
              line);
  if (!decoded) return 0;
  fuzz::check(*decoded == *expected, "decoded members differ from the parser's", line);
  fuzz::admit(*decoded);
  return 0;
}
