// Fuzzes one request line: decoding, checked against the JSON library's own parse, and
// admission by the model, checked for the reply it gives at once.
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

// What decodeRequest should give, read from the parsed document: an object whose members id,
// text and target are strings (the last of a repeated member counts, as the document keeps it).
// A NUL byte is never valid JSON, wherever it stands; the library takes one outside a string as
// the end of its input and would ignore what follows.
std::optional<Request> expectedRequest(const std::string& line) {
  if (line.find('\0') != std::string::npos) return std::nullopt;
  const auto value = nlohmann::json::parse(line, nullptr, /*allow_exceptions=*/false);
  if (!value.is_object()) return std::nullopt;
  Request request;
  std::string target;
  for (auto [key, field] : {std::pair{"id", &request.id}, std::pair{"text", &request.text},
                            std::pair{"target", &target}}) {
    const auto member = value.find(key);
    if (member == value.end() || !member->is_string()) return std::nullopt;
    *field = member->get<std::string>();
  }
  request.target = targetNamed(target);
  return request;
}

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
  // them replaced, and only the out-of-range values it refuses but valid JSON allows.
  const std::string line = repairUtf8(std::string(bytes));
  fuzz::check(decodeRequest(line) == decoded, "ill-formed bytes decode unlike U+FFFD", line);
  std::optional<Request> expected = fuzz::expectedRequest(line);
  if (!expected) expected = fuzz::expectedRequest(testing::withOutOfRangeValuesReplaced(line));
  fuzz::check(decoded.has_value() == expected.has_value(), "decoding disagrees with the parser",
              line);
  if (!decoded) return 0;
  fuzz::check(*decoded == *expected, "decoded members differ from the parser's", line);
  fuzz::admit(*decoded);
  return 0;
}
