// Request decoding and reply encoding.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <unicode/unistr.h>

#include "base/utf8.h"
#include "protocol/descriptor_reply_sink.h"
#include "protocol/reply.h"
#include "protocol/request.h"
#include "tests/protocol/json_oracle.h"
#include "tests/protocol/output_capture.h"

namespace talvori {
namespace {

TEST(DecodeRequest, AcceptsRequestObjects) {
  struct Case {
    std::string line;
    Request expected;
  };
  const std::vector<Case> cases = {
      {R"({"id":"1","text":"hola","target":"en"})", {"1", "hola", Target::english}},
      {R"(  { "target" : "auto" ,"text":"x", "id":"b" }  )", {"b", "x", Target::automatic}},
      {"\t{\"id\":\"1\",\"text\":\"\",\"target\":\"\"}\r", {"1", "", Target::unsupported}},
      {R"({"id":"1","text":"a","target":"en","n":1.5,"o":{"id":7},"a":[null],"z":null})",
       {"1", "a", Target::english}},
      {R"({"id":"\u00e9\ud83d\ude00","text":"l1\nl2\t\"q\"\\\/","target":"zh-Hans"})",
       {"\xC3\xA9\xF0\x9F\x98\x80", "l1\nl2\t\"q\"\\/", Target::simplifiedChinese}},
      {R"({"id":"x","text":"t","target":"en","Id":5,"TEXT":null})", {"x", "t", Target::english}},
      // A repeated member takes its last value, whatever came before.
      {R"({"id":1,"text":"t","target":"en","id":"last"})", {"last", "t", Target::english}},
      {"\xEF\xBB\xBF{\"id\":\"1\",\"text\":\"t\",\"target\":\"en\"}", {"1", "t", Target::english}},
      // Numbers are ignored whatever their magnitude, and deep nesting costs no stack.
      {R"({"id":"n","text":"El gato.","target":"en","x":1e400,"y":[-1E-99999,1234567890123456789012345]})",
       {"n", "El gato.", Target::english}},
      {R"({"id":"d","text":"t","target":"en","deep":)" + std::string(1000000, '[') +
           std::string(1000000, ']') + "}",
       {"d", "t", Target::english}},
      // An escaped surrogate without its partner stands for U+FFFD, as ill-formed bytes do.
      {R"({"id":"s","text":"El perro \ud800 come. \udc00\ud83d\ude00 \ud83d\u0041","target":"en"})",
       {"s",
        "El perro \xEF\xBF\xBD come. \xEF\xBF\xBD\xF0\x9F\x98\x80 \xEF\xBF\xBD"
        "A",
        Target::english}},
      {R"({"id":"e","text":"\b\f\r\n\t\ud800\ud800x","target":"EN"})",
       {"e", "\b\f\r\n\t\xEF\xBF\xBD\xEF\xBF\xBDx", Target::unsupported}},
      {"{\"id\":\"i\xFF\",\"text\":\"a\xE2\x82(\xF0\x9F\x98\",\"target\":\"en\",\"x\":\"\xC0\"}",
       {"i\xEF\xBF\xBD", "a\xEF\xBF\xBD(\xEF\xBF\xBD", Target::english}},
  };
  for (const auto& c : cases) {
    auto decoded = decodeRequest(c.line);
    ASSERT_TRUE(decoded.has_value()) << c.line;
    EXPECT_EQ(*decoded, c.expected) << c.line;
  }
}

TEST(DecodeRequest, RejectsEverythingElse) {
  const std::vector<std::string> lines = {
      "",
      "   ",
      R"({"id":1,"text":"t","target":"en"})",
      R"({"id":"1","text":"t","target":null})",
      R"({"id":"1","target":"en"})",
      R"({"Id":"1","text":"t","target":"en"})",
      R"({"id":"1","text":"t","target":"en",})",
      R"({"id":"1","text":"t","target":"en"} // note)",
      R"(/* c */ {"id":"1","text":"t","target":"en"})",
      R"({"id":"1","text":"t","target":"en"}{"id":"2","text":"t","target":"en"})",
      R"({"id":"1","text":"t","target":"en"} 1)",
      R"({'id':'1','text':'t','target':'en'})",
      R"([{"id":"1","text":"t","target":"en"}])",
      R"("id")",
      R"({"id":"1","text":["t"],"target":"en"})",
      R"({"id":"1","text":"t","target":"en","id":true})",
      R"({"nested":{"id":"1","text":"t","target":"en"}})",
      R"({"id":"1","text":"t","target":"en")",
      "{\"id\":\"1\",\"text\":\"a\nb\",\"target\":\"en\"}",
      // Bytes that are not UTF-8 outside strings, malformed numbers, escapes and containers.
      "{\"id\":\"1\",\"text\":\"t\",\"target\":\"en\"}\xFF",
      R"({"id":"1","text":"t","target":"en","x":1e})",
      R"({"id":"1","text":"t","target":"en","x":01})",
      R"({"id":"1","text":"t","target":"en","x":"\x41"})",
      R"({"id":"1","text":"t\u12","target":"en"})",
      R"({"id":"1","text":"t","target":"en","x":[1,]})",
      R"({"id":"1","text":"t","target":"en","x":{"a" 1}})",
      R"({"id":"1","text":"t","target":"en","x":[}})",
      // Nothing may follow the object, not even NUL bytes.
      std::string("{\"id\":\"1\",\"text\":\"t\",\"target\":\"en\"}\0\0x", 38),
  };
  for (const auto& line : lines) EXPECT_FALSE(decodeRequest(line).has_value()) << line;
}

// Every file of the public JSON parsing suite, placed as the value of an extra member, decodes
// to what the JSON library's own parse of the line gives (json_oracle.h): always for the files
// that must parse, never for those that must not, and for those whose handling is left open as
// the library does, except where the decoder differs from it on purpose.
TEST(DecodeRequest, AgreesWithTheJsonParsingSuite) {
  // The suite lies in shared/testdata/ in a folder above the checkout.
  std::filesystem::path suite;
  for (auto folder = std::filesystem::path(TALVORI_SOURCE_DIR).parent_path();
       suite.empty() && folder != folder.parent_path(); folder = folder.parent_path()) {
    if (std::filesystem::exists(folder / "shared/testdata/json-test-suite/test_parsing")) {
      suite = folder / "shared/testdata/json-test-suite/test_parsing";
    }
  }
  if (suite.empty()) GTEST_SKIP() << "no suite above " << TALVORI_SOURCE_DIR;
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(suite)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    const std::string value = repairUtf8(content.str());
    const std::string name = entry.path().filename().string();
    // The value in a member that is ignored, as the text, and, since most files hold their
    // string in an array, the array's contents as the text.
    const std::size_t open = value.find('['), close = value.rfind(']');
    const std::string contents = open < close ? value.substr(open + 1, close - open - 1) : value;
    const std::string lines[3] = {R"({"id":"1","text":"t","target":"en","x":)" + value + "}",
                                  R"({"id":"1","target":"en","text":)" + value + "}",
                                  R"({"id":"1","target":"en","text":)" + contents + "}"};
    for (const std::string& line : lines) {
      EXPECT_EQ(decodeRequest(line), testing::referenceRequest(line)) << name << ": " << line;
    }
    if (name.starts_with("y_")) {
      EXPECT_TRUE(decodeRequest(lines[0]).has_value()) << name;
    }
    if (name.starts_with("n_")) {
      EXPECT_FALSE(decodeRequest(lines[0]).has_value()) << name;
      EXPECT_FALSE(decodeRequest(value).has_value()) << name;
    }
    ++files;
  }
  EXPECT_GT(files, 300);
}

// The oracle steps in only where the decoder differs from the library on purpose; everything
// else is the library's judgement.
TEST(JsonOracle, MendsOnlyLoneSurrogatesHugeNumbersAndNul) {
  const auto request = [](std::string_view text) {
    return Request{"1", std::string(text), Target::english};
  };
  const auto line = [](std::string_view text) {
    return R"({"id":"1","target":"en","text":")" + std::string(text) + R"(","n":1e999})";
  };
  EXPECT_EQ(testing::referenceRequest(line(R"(\ud800\ud800x)")),
            request("\xEF\xBF\xBD\xEF\xBF\xBDx"));
  EXPECT_EQ(testing::referenceRequest(line(R"(\udc00\ud83d\ude00\ud800\ud83d\ude00)")),
            request("\xEF\xBF\xBD\xF0\x9F\x98\x80\xEF\xBF\xBD\xF0\x9F\x98\x80"));
  EXPECT_EQ(testing::referenceRequest(line(R"(a\\ud800\b\f\r)")), request("a\\ud800\b\f\r"));
  // The words of the library's messages in the text itself change nothing.
  EXPECT_EQ(testing::referenceRequest(line(R"(\ud83dnumber overflow, surrogate\ude39)")),
            request("\xEF\xBF\xBDnumber overflow, surrogate\xEF\xBF\xBD"));
  EXPECT_EQ(testing::referenceRequest(line(R"(\ud800\u12)")), std::nullopt);
  EXPECT_EQ(testing::referenceRequest(line("x") + std::string(1, '\0')), std::nullopt);
}

std::string encoded(const Reply& reply) {
  std::string out;
  encodeReply(reply, out);
  return out;
}

TEST(EncodeReply, WritesTheIdAndThenTheTextOrTheError) {
  EXPECT_EQ(encoded(Reply::success("7", "hola")), R"({"id":"7","text":"hola"})");
  EXPECT_EQ(encoded(Reply::failure("7", "失败")), R"({"id":"7","error":"失败"})");
  EXPECT_EQ(encoded(Reply::success("", "")), R"({"id":"","text":""})");
}

// Our writer must produce the bytes that the JSON library's compact output would.
TEST(EncodeReply, EscapesExactlyLikeTheJsonLibrary) {
  std::vector<std::string> texts = {"plain",          "quote \" and \\ and /",
                                    "line\nfeed\r\n", "tab\t bell\a nul",
                                    "\x7f del",       "漢字 😀 é"};
  texts[3].push_back('\0');
  std::string controls;
  for (char c = 1; c < 0x20; ++c) controls.push_back(c);
  texts.push_back(controls);
  for (const auto& text : texts) {
    nlohmann::ordered_json expected;
    expected["id"] = text;
    expected["text"] = text;
    EXPECT_EQ(encoded(Reply::success(text, text)), expected.dump()) << text;
  }
}

TEST(EncodeReply, ReplacesInvalidUtf8InsteadOfDroppingTheReply) {
  EXPECT_EQ(encoded(Reply::success("i\xFF", "a\xC3(b\xE2\x82")),
            "{\"id\":\"i\xEF\xBF\xBD\",\"text\":\"a\xEF\xBF\xBD(b\xEF\xBF\xBD\"}");
}

TEST(DescriptorReplySink, WritesOneLineEndingInOneLineFeed) {
  testing::OutputCapture out;
  DescriptorReplySink sink(out.fd());
  sink.write(Reply::success("1", "a\nb"));
  sink.write(Reply::failure("2", "错误"));
  const std::string big(300000, 'x');
  sink.write(Reply::success("3", big));
  EXPECT_EQ(out.take(),
            "{\"id\":\"1\",\"text\":\"a\\nb\"}\n{\"id\":\"2\",\"error\":\"错误\"}\n"
            "{\"id\":\"3\",\"text\":\"" +
                big + "\"}\n");
}

// Runs `work` on a thread of its own and gives whether it returned within `timeout`; a thread
// that does not is left behind (a failing test then ends the run with its report).
bool returnsWithin(std::function<void()> work, std::chrono::seconds timeout) {
  auto done = std::make_shared<std::atomic<bool>>(false);
  std::thread([work = std::move(work), done] {
    work();
    *done = true;
  }).detach();
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!*done && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return *done;
}

// A host that closed its end: the line is abandoned at once, blocking or not, and the sink is
// not left waiting.
TEST(DescriptorReplySink, AClosedOutputIsNotFatal) {
  signal(SIGPIPE, SIG_IGN);
  for (const bool nonBlocking : {false, true}) {
    SCOPED_TRACE(nonBlocking ? "non-blocking" : "blocking");
    int fds[2];
    ASSERT_EQ(pipe2(fds, nonBlocking ? O_NONBLOCK : 0), 0);
    close(fds[0]);
    auto sink = std::make_shared<DescriptorReplySink>(fds[1]);
    EXPECT_TRUE(returnsWithin(
        [sink] {
          sink->write(Reply::success("1", "t"));
          sink->write(Reply::success("2", std::string(1 << 20, 'x')));
        },
        std::chrono::seconds(10)));
    EXPECT_EQ(sink->stalledFor(), std::chrono::nanoseconds::zero());
    close(fds[1]);
  }
}

// A reply held up by a host that does not read shows as a stall that grows while the write
// waits, blocking or not, and is gone once the write has finished.
TEST(DescriptorReplySink, TellsHowLongAWriteHasWaited) {
  for (const bool nonBlocking : {false, true}) {
    SCOPED_TRACE(nonBlocking ? "non-blocking" : "blocking");
    int fds[2];
    ASSERT_EQ(pipe2(fds, nonBlocking ? O_NONBLOCK : 0), 0);
    DescriptorReplySink sink(fds[1]);
    EXPECT_EQ(sink.stalledFor(), std::chrono::nanoseconds::zero());
    const std::string text(1 << 20, 'x');  // far more than the pipe holds
    std::atomic<bool> written = false;
    std::thread writer([&] {
      sink.write(Reply::success("1", text));
      written = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (sink.stalledFor() < std::chrono::milliseconds(50) &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_GE(sink.stalledFor(), std::chrono::milliseconds(50));
    EXPECT_FALSE(written);
    // Reads until the writer has finished and the pipe is empty.
    std::string read;
    char buffer[65536];
    for (;;) {
      pollfd poller{fds[0], POLLIN, 0};
      if (::poll(&poller, 1, 100) > 0) {
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n > 0) read.append(buffer, static_cast<std::size_t>(n));
      } else if (written) {
        break;
      }
    }
    writer.join();
    EXPECT_EQ(sink.stalledFor(), std::chrono::nanoseconds::zero());
    EXPECT_EQ(read, "{\"id\":\"1\",\"text\":\"" + text + "\"}\n");
    close(fds[0]);
    close(fds[1]);
  }
}

// Standard output left non-blocking by the host, with a reader slower than the writer: every
// reply arrives exactly once and whole, in order.
TEST(DescriptorReplySink, WaitsForRoomOnANonBlockingDescriptor) {
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_NONBLOCK), 0);
  fcntl(fds[1], F_SETPIPE_SZ, 4096);
  std::string expected;
  std::vector<Reply> replies;
  for (int i = 0; i < 300; ++i) {
    replies.push_back(Reply::success(std::to_string(i), std::string(i % 7 == 0 ? 9000 : 40, 'a')));
    encodeReply(replies.back(), expected);
    expected += '\n';
  }
  std::string read;
  std::thread reader([&] {
    char buffer[1000];
    while (read.size() < expected.size()) {
      pollfd poller{fds[0], POLLIN, 0};
      ::poll(&poller, 1, 1000);
      const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
      if (n > 0) read.append(buffer, static_cast<std::size_t>(n));
      if (n == 0) break;
    }
  });
  DescriptorReplySink sink(fds[1]);
  for (const Reply& reply : replies) sink.write(reply);
  close(fds[1]);
  reader.join();
  EXPECT_EQ(read, expected);
  close(fds[0]);
}

// Decoding and repair must match ICU's conversion, which replaces each maximal ill-formed
// subpart: the same code points, the same count, and the same repaired bytes.
TEST(Utf8, DecodesAndRepairsLikeIcuOnRandomBytes) {
  std::mt19937 random(42);
  const unsigned char interesting[] = {0x41, 0x80, 0xBF, 0xC0, 0xC2, 0xDF, 0xE0, 0xA0, 0xED,
                                       0x9F, 0xA0, 0xEF, 0xF0, 0x90, 0xF4, 0x8F, 0xF5, 0xFF};
  for (int round = 0; round < 20000; ++round) {
    std::string bytes;
    const int length = static_cast<int>(random() % 8);
    for (int i = 0; i < length; ++i) {
      bytes.push_back(static_cast<char>(interesting[random() % sizeof interesting]));
    }
    const icu::UnicodeString utf16 = icu::UnicodeString::fromUTF8(bytes);
    std::string expected;
    utf16.toUTF8String(expected);
    std::u32string decoded, fromIcu;
    for (std::size_t at = 0; at < bytes.size();) {
      const std::int32_t c = decodeUtf8(bytes, at);
      decoded += static_cast<char32_t>(c == kIllFormed ? 0xFFFD : c);
    }
    for (int32_t i = 0; i < utf16.length(); i = utf16.moveIndex32(i, 1)) {
      fromIcu += static_cast<char32_t>(utf16.char32At(i));
    }
    ASSERT_EQ(decoded, fromIcu) << ::testing::PrintToString(bytes);
    ASSERT_EQ(countCodePoints(bytes), fromIcu.size());
    std::string repaired;
    appendRepairedUtf8(bytes, repaired);
    ASSERT_EQ(repaired, expected) << ::testing::PrintToString(bytes);
    ASSERT_EQ(isValidUtf8(bytes), repaired == bytes);
  }
}

}  // namespace
}  // namespace talvori
