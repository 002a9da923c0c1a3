#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"

#include "platform/apertium/apertium_mode.h"
#include "platform/apertium/apertium_pairs.h"
#include "platform/apertium/apertium_service.h"
#include "platform/apertium/apertium_text_format.h"
#include "tests/fakes/fake_package_installer.h"
#include "tests/fakes/manual_main_queue.h"
#include "tests/support/agent_process.h"

namespace talvori {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::Optional;
namespace fs = std::filesystem;

const fs::path kDataDir = APERTIUM_TEST_DATA_DIR;
const fs::path kModes = "/usr/share/apertium/modes";

// Every child of this process, zombies too.
std::vector<pid_t> children() { return testing::childrenOf(::getpid(), testing::Zombies::counted); }

std::string readFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), {});
}

// Runs a shell command with `input` as its standard input; gives its standard output.
std::string runTool(const std::string& command, const std::string& input) {
  const fs::path in = fs::temp_directory_path() / ("apertium_test_in_" + std::to_string(getpid()));
  const fs::path out = fs::path(in).concat(".out");
  std::ofstream(in, std::ios::binary) << input;
  EXPECT_EQ(std::system((command + " <" + in.string() + " >" + out.string()).c_str()), 0);
  std::string result = readFile(out);
  fs::remove(in);
  fs::remove(out);
  return result;
}

// A modes directory holding the test modes, made from the templates in the data directory.
class TestModes {
 public:
  TestModes() : dir_(fs::temp_directory_path() / ("apertium_modes_" + std::to_string(getpid()))) {
    fs::create_directories(dir_);
    write("isl-eng.mode", "stall.mode.in");
    write("mkd-eng.mode", "echo.mode.in");
  }
  ~TestModes() { fs::remove_all(dir_); }
  const fs::path& dir() const { return dir_; }

  // Adds the mode `name` made from the template `source`, as installing its package would.
  void write(const std::string& name, const std::string& source) {
    std::string text = readFile(kDataDir / source);
    for (std::size_t at; (at = text.find("@DATA_DIR@")) != std::string::npos;) {
      text.replace(at, 10, kDataDir.string());
    }
    std::ofstream(dir_ / name) << text;
  }

 private:
  fs::path dir_;
};

class Translator {
 public:
  explicit Translator(ApertiumOptions options = {})
      : service_(makeApertiumService(queue_, std::move(options))) {}

  std::optional<std::string> translate(const std::string& text, const char* from = "es",
                                       const char* to = "en",
                                       std::chrono::milliseconds wait = 20s) {
    auto session = service_->makeSession(TranslationConfiguration(Language(from), Language(to)));
    return translate(*session, text, wait);
  }

  std::optional<std::string> translate(TranslationSession& session, const std::string& text,
                                       std::chrono::milliseconds wait = 20s) {
    std::optional<std::optional<std::string>> result;
    session.translate(text, [&](std::optional<std::string> answer) { result = answer; });
    EXPECT_FALSE(result.has_value()) << "answered inside the call";
    EXPECT_TRUE(queue_.runUntil([&] { return result.has_value(); }, wait));
    return result.value_or(std::nullopt);
  }

  testing::ManualMainQueue& queue() { return queue_; }
  TranslationService& service() { return *service_; }
  void end() { service_.reset(); }

 private:
  testing::ManualMainQueue queue_;
  std::unique_ptr<TranslationService> service_;
};

// Waits until a request sits unread in the input of one of the pipeline's programs, stopped so
// that it cannot take it; gives whether it came.
bool requestReachedPipeline(const std::vector<pid_t>& pipeline) {
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (std::chrono::steady_clock::now() < deadline) {
    for (pid_t p : pipeline) {
      if (testing::pipeBytes(p, 0) > 0) return true;
    }
    std::this_thread::sleep_for(5ms);
  }
  return false;
}

void expectNoChildrenLeft() {
  for (pid_t child : children()) ADD_FAILURE() << "child " << child << " left";
}

// Only the primary subtag names the language, in any case; three-letter codes pass through
// unless Apertium spells the language otherwise.
TEST(ApertiumPairsTest, MapsCodesAndFindsModes) {
  EXPECT_EQ(apertiumLanguage("EN-us"), "eng");
  EXPECT_EQ(apertiumLanguage("srp-Latn"), "hbs");
  EXPECT_EQ(apertiumLanguage("ast"), "ast");
  EXPECT_EQ(apertiumLanguage("xx"), std::nullopt);
  EXPECT_EQ(apertiumLanguage("e1"), std::nullopt);
  EXPECT_EQ(apertiumLanguage(""), std::nullopt);

  const fs::path dir = fs::temp_directory_path() / ("apertium_pairs_" + std::to_string(getpid()));
  fs::create_directories(dir);
  for (const char* name : {"spa-eng_US.mode", "spa-eng.mode", "eu-en.mode", "en-eo-trigram.mode",
                           "eng-hbs_SR.mode", "eng-hbs_HR.mode", "spa-eng.txt"}) {
    std::ofstream(dir / name) << "cat\n";
  }
  EXPECT_EQ(findMode(dir, "spa", "eng"), dir / "spa-eng.mode");
  EXPECT_EQ(findMode(dir, "eus", "eng"), dir / "eu-en.mode");
  EXPECT_EQ(findMode(dir, "eng", "hbs"), dir / "eng-hbs_HR.mode");
  EXPECT_EQ(findMode(dir, "eng", "epo"), std::nullopt);
  EXPECT_EQ(findMode(dir, "eng", "spa"), std::nullopt);
  EXPECT_EQ(findMode(dir / "missing", "spa", "eng"), std::nullopt);
  fs::remove_all(dir);
}

TEST(ApertiumModeTest, ParsesModeCommandsWithoutAShell) {
  const auto programs = parseModeCommand(
      "lt-proc -z '/a b/x.bin' | apertium-tagger -g $2 \"q\\\"t\" | lt-proc $1 g\\ h 2>/dev/null\n",
      "-n");
  ASSERT_TRUE(programs.has_value());
  EXPECT_EQ(*programs, (ProgramList{{"lt-proc", "-z", "/a b/x.bin"},
                                    {"apertium-tagger", "-g", "q\"t"},
                                    {"lt-proc", "-n", "g h"}}));
  for (const char* bad : {"a; rm -rf x", "a $(x)", "a `x`", "a > f", "a |", "| a", "a && b",
                          "a 'open", "a $HOME", "a *.bin", ""}) {
    EXPECT_EQ(parseModeCommand(bad, "-n"), std::nullopt) << bad;
  }
}

TEST(ApertiumTextFormatTest, MatchesTheEngineFormatTools) {
  const std::vector<std::string> texts = {
      "Hola mundo.",
      "^$[]{}<>/\\@*# y más",
      "Uno.\n\nDos  tres\tcuatro\r\n\r\ncinco\n\n\n\nseis\n",
      "\n\n\nlínea  \n",
      "@ inicio [x] \\n",
      "",
      " ",
  };
  for (const std::string& text : texts) {
    EXPECT_EQ(deformatText(text), runTool("apertium-destxt", text)) << text;
    EXPECT_EQ(reformatText(deformatText(text)), text) << text;
  }
  EXPECT_EQ(deformatText(std::string("a\0b", 3)), "ab.[]");
  const std::string stream = deformatText("Uno dos. Tres p. ej. cuatro!\n\nCinco [x]. ¿Seis?");
  const std::vector<std::string_view> pieces = splitStream(stream, 5);
  EXPECT_EQ(pieces, (std::vector<std::string_view>{"Uno dos. ", "Tres p. ej. cuatro!.[][\n\n]",
                                                   "Cinco \\[x\\]. ", "¿Seis?.[]"}));
  EXPECT_EQ(splitStream(stream, 1000), std::vector<std::string_view>{stream});
  // An escaped bracket inside a superblank does not end it.
  EXPECT_EQ(splitStream("Uno. [a\\]. B] Dos. Tres", 3),
            (std::vector<std::string_view>{"Uno. [a\\]. B] ", "Dos. ", "Tres"}));
  for (const std::string stream :
       {"a\\*b\\#c\\^d\\xe.[]f[\\@g]h..[][\n]", "[x]\\[\\]\\\\\\/\\@\\<\\>\\$\\{\\}", "tail\\"}) {
    EXPECT_EQ(reformatText(stream), runTool("apertium-retxt", stream)) << stream;
  }
}

TEST(ApertiumServiceTest, TranslatesSpanishLikeTheApertiumCommand) {
  Translator translator;
  EXPECT_THAT(translator.translate("Hola mundo."), Optional(std::string("Hello World.")));
  const std::vector<std::string> texts = {
      "El gato ^negro$ [no] {come} <pan> / \\ @ * # hoy.",
      "Primera línea.\nSegunda línea.\n\nOtro párrafo  con\tespacios.\n",
      "Xyzzyq palabrasinventadas aquí.",
  };
  for (const std::string& text : texts) {
    const auto translated = translator.translate(text);
    ASSERT_TRUE(translated.has_value()) << text;
    EXPECT_EQ(*translated, runTool("apertium -u spa-eng", text)) << text;
  }
  EXPECT_THAT(translator.translate(texts[0]),
              Optional(HasSubstr("^cat$ [no] {eats} <bread> / \\ @ * # today.")));
  EXPECT_THAT(translator.translate(texts[2]), Optional(::testing::Not(HasSubstr("*"))));
  // A NUL inside the text neither breaks the frame nor desynchronises the next one.
  EXPECT_THAT(translator.translate(std::string("Hola\0 mundo.", 12)), Optional(HasSubstr("Hello")));
  EXPECT_THAT(translator.translate("Adiós."), Optional(std::string("Goodbye.")));

  std::string longText;
  while (longText.size() < 10000) {
    longText += "El perro de mi vecina corre por el parque cada mañana. ";
    if (longText.size() % 7 == 0) longText += "\n";
  }
  longText.resize(10000);
  const auto translated = translator.translate(longText);
  ASSERT_TRUE(translated.has_value());
  EXPECT_EQ(*translated, runTool("apertium -u spa-eng", longText));
  translator.end();
  expectNoChildrenLeft();
}

TEST(ApertiumServiceTest, SharesOneWarmPipelineAndRecyclesIt) {
  ApertiumOptions options;
  options.recycleAfter = 2;
  Translator translator(options);
  ASSERT_TRUE(translator.translate("Uno.").has_value());
  const std::vector<pid_t> first = children();
  ASSERT_FALSE(first.empty());
  ASSERT_TRUE(translator.translate("Dos.").has_value());  // another session, same pipeline
  std::vector<pid_t> second = children();
  EXPECT_EQ(second.size(), first.size());
  EXPECT_EQ(second.front(), first.front());
  ASSERT_TRUE(translator.translate("Tres.").has_value());  // the third starts a fresh one
  for (pid_t old : first) EXPECT_FALSE(testing::alive(old));
  translator.end();
  expectNoChildrenLeft();
}

TEST(ApertiumServiceTest, KilledPipelineFailsTheRequestAndTheNextSucceeds) {
  Translator translator;
  ASSERT_TRUE(translator.translate("Hola.").has_value());
  const std::vector<pid_t> pipeline = children();
  ASSERT_GT(pipeline.size(), 3u);
  // Freeze the pipeline so that the request is surely inside it when a program dies.
  std::vector<pid_t> pids;
  for (pid_t p : pipeline) pids.push_back(p);
  ASSERT_TRUE(testing::stopProcesses(pids));
  auto session =
      translator.service().makeSession(TranslationConfiguration(Language("es"), Language("en")));
  std::optional<std::optional<std::string>> result;
  session->translate("El perro corre.", [&](std::optional<std::string> r) { result = r; });
  ASSERT_TRUE(requestReachedPipeline(pipeline));
  ::kill(pipeline[pipeline.size() / 2], SIGKILL);
  for (pid_t p : pipeline) ::kill(p, SIGCONT);
  ASSERT_TRUE(translator.queue().runUntil([&] { return result.has_value(); }, 10s));
  EXPECT_EQ(*result, std::nullopt);
  EXPECT_THAT(translator.translate("Hola."), Optional(std::string("Hello.")));
  for (pid_t p : children()) EXPECT_TRUE(testing::alive(p));
  translator.end();
  expectNoChildrenLeft();
}

// A program that stops mid-pipeline fails the request once its deadline has passed, and is
// killed with its pipeline even though a stopped process would not act on SIGTERM; the next
// request gets a fresh pipeline. The deadline leaves the pipeline's start ample time.
TEST(ApertiumServiceTest, AStoppedProgramFailsOneRequestAndIsKilled) {
  ApertiumOptions options;
  options.timeout = 2s;
  Translator translator(options);
  ASSERT_THAT(translator.translate("Hola."), Optional(std::string("Hello.")));
  const std::vector<pid_t> pipeline = children();
  ASSERT_GT(pipeline.size(), 3u);
  ::kill(pipeline.front(), SIGSTOP);
  EXPECT_EQ(translator.translate("El perro corre."), std::nullopt);
  EXPECT_FALSE(testing::alive(pipeline.front())) << "the stopped program was left behind";
  EXPECT_THAT(translator.translate("Hola."), Optional(std::string("Hello.")));
  translator.end();
  expectNoChildrenLeft();
}

// A program of the warm pipeline that dies while nothing is being translated costs no request:
// the next one finds the pipeline dead and starts a fresh one, whichever program it was.
TEST(ApertiumServiceTest, APipelineThatDiedWhileIdleIsReplacedBeforeUse) {
  Translator translator;
  ASSERT_TRUE(translator.translate("Hola.").has_value());
  for (const std::size_t which : {0, 2, 100}) {
    const std::vector<pid_t> pipeline = children();
    ASSERT_GT(pipeline.size(), 3u);
    const pid_t victim = pipeline[std::min(which, pipeline.size() - 1)];
    ::kill(victim, SIGKILL);
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (testing::alive(victim) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(10ms);
    }
    EXPECT_THAT(translator.translate("Hola."), Optional(std::string("Hello."))) << which;
  }
  translator.end();
  expectNoChildrenLeft();
}

// A stalled pipeline fails the request once its deadline has passed, and the deadline grows with
// the length of the text. A deadline can only end a translation late, never early, so the lower
// bounds hold on any machine.
TEST(ApertiumServiceTest, StalledPipelinesFailAtADeadlineThatGrowsWithTheText) {
  TestModes modes;
  ApertiumOptions options;
  options.modesDirectory = modes.dir();
  options.timeout = 200ms;
  options.timeoutPerThousandCharacters = 2000ms;
  Translator translator(options);

  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(translator.translate("stalls", "is", "en"), std::nullopt);
  const auto shortTook = std::chrono::steady_clock::now() - start;
  EXPECT_GE(shortTook, 200ms);

  // 2,000 characters, most of them two bytes: the deadline counts characters, not bytes.
  std::string longText;
  for (int i = 0; i < 400; ++i) longText += "ñandú";
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(translator.translate(longText, "is", "en"), std::nullopt);
  const auto longTook = std::chrono::steady_clock::now() - start;
  EXPECT_GE(longTook, 4200ms);
  EXPECT_LT(shortTook, 4200ms);
  translator.end();
  expectNoChildrenLeft();
}

// Each answer must come back whole, in order, between its own frame's markers; anything else
// fails that request, and a fresh pipeline serves the next one.
TEST(ApertiumServiceTest, FaultyPipelinesFailAndAreReplaced) {
  TestModes modes;
  ApertiumOptions options;
  options.modesDirectory = modes.dir();
  Translator translator(options);

  {
    // The programs' chatter on standard error must not reach ours.
    const fs::path errors =
        fs::temp_directory_path() / ("apertium_err_" + std::to_string(getpid()));
    std::fflush(stderr);
    const int saved = ::dup(2);
    const int file = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(file, 2);
    ::close(file);
    const auto echoed = translator.translate("a [b] ^c$", "mk", "en");
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    EXPECT_THAT(echoed, Optional(std::string("a [b] ^c$")));
    EXPECT_EQ(readFile(errors), "");
    fs::remove(errors);
  }
  std::string manyFrames;  // long enough to go as several frames, which must rejoin in order
  for (int i = 0; i < 40; ++i) manyFrames += "Frase " + std::to_string(i) + " [con] ^marcas$.\n";
  EXPECT_THAT(translator.translate(manyFrames, "mk", "en"), Optional(manyFrames));
  for (const char* fault : {"CRASH", "GARBAGE", "TRUNCATE", "WRONGEND"}) {
    EXPECT_EQ(translator.translate(std::string("one ") + fault + " frame", "mk", "en"),
              std::nullopt)
        << fault;
    EXPECT_THAT(translator.translate("after the fault", "mk", "en"),
                Optional(std::string("after the fault")))
        << fault;
  }
  EXPECT_EQ(translator.translate(manyFrames + "Y GARBAGE al final.", "mk", "en"), std::nullopt);
  EXPECT_EQ(translator.translate("Primera frase HOLD. " + manyFrames, "mk", "en"), std::nullopt);
  EXPECT_THAT(translator.translate(manyFrames, "mk", "en"), Optional(manyFrames));
  for (pid_t p : children()) EXPECT_TRUE(testing::alive(p));
  translator.end();
  expectNoChildrenLeft();
}

TEST(ApertiumServiceTest, AnswersAvailabilityLaterAndFailsWhatItCannotTranslate) {
  Translator translator;
  auto availability = translator.service().makeAvailability();
  std::vector<AvailabilityStatus> statuses;
  const std::vector<std::pair<const char*, const char*>> pairs = {
      {"es", "en-US"},   {"en", "es"},      {"en", "ca"}, {"is", "en"},
      {"zh-Hans", "en"}, {"en", "zh-Hans"}, {"es", "fr"}};
  for (const auto& [from, to] : pairs) {
    availability->statusFrom(Language(from), Language(to), "Hola",
                             [&](AvailabilityStatus status) { statuses.push_back(status); });
  }
  std::optional<std::optional<AvailabilityStatus>> forText;
  availability->statusFor("Hola", Language("en"), [&](auto status) { forText = status; });
  EXPECT_TRUE(statuses.empty());
  translator.queue().runAll();
  using enum AvailabilityStatus;
  EXPECT_EQ(statuses, (std::vector{installed, installed, supported, supported, unsupported,
                                   unsupported, unsupported}));
  EXPECT_THAT(forText, Optional(std::optional<AvailabilityStatus>()));

  // Without an installer, a direction whose data is missing fails.
  EXPECT_EQ(translator.translate("Hello", "en", "ca"), std::nullopt);
  auto noSource =
      translator.service().makeSession(TranslationConfiguration(std::nullopt, Language("en")));
  EXPECT_EQ(translator.translate(*noSource, "Hola"), std::nullopt);
}

// A direction that Debian offers but the machine lacks is installed when a session first
// translates in it, and then translated; the status and later sessions find it installed, with
// no second install. A failed install, or one after which the mode is still missing, fails the
// translation, as does an install answered after the service has gone.
TEST(ApertiumServiceTest, InstallsAMissingDirectionOnFirstUse) {
  TestModes modes;
  testing::FakePackageInstaller installer;
  ApertiumOptions options;
  options.modesDirectory = modes.dir();
  options.installer = &installer;
  Translator translator(options);
  auto status = [&](const char* from, const char* to) {
    std::optional<AvailabilityStatus> answer;
    translator.service().makeAvailability()->statusFrom(
        Language(from), Language(to), "Hola", [&](AvailabilityStatus value) { answer = value; });
    translator.queue().runAll();
    return answer;
  };
  auto startTranslation = [&](const char* from, std::optional<std::optional<std::string>>& result) {
    auto session =
        translator.service().makeSession(TranslationConfiguration(Language(from), Language("en")));
    session->translate("Kaixo mundua.", [&](std::optional<std::string> text) { result = text; });
    translator.queue().runAll();
  };

  EXPECT_EQ(status("eu", "en"), AvailabilityStatus::supported);
  std::optional<std::optional<std::string>> first;
  startTranslation("eu", first);
  EXPECT_EQ(installer.requested, std::vector<std::string>{"apertium-eu-en"});
  EXPECT_FALSE(first.has_value()) << "waits for the install";
  modes.write("eu-en.mode", "echo.mode.in");
  installer.answer(true);
  ASSERT_TRUE(translator.queue().runUntil([&] { return first.has_value(); }, 20s));
  EXPECT_EQ(*first, "Kaixo mundua.");
  EXPECT_EQ(status("eu", "en"), AvailabilityStatus::installed);
  EXPECT_THAT(translator.translate("Bai.", "eu", "en"), Optional(std::string("Bai.")));
  EXPECT_EQ(installer.requested.size(), 1u);

  // The Esperanto package carries both directions.
  std::optional<std::optional<std::string>> refused, stillMissing;
  startTranslation("eo", refused);
  startTranslation("gl", stillMissing);
  EXPECT_EQ(installer.requested,
            (std::vector<std::string>{"apertium-eu-en", "apertium-eo-en", "apertium-en-gl"}));
  installer.answer(false);
  installer.answer(true);
  translator.queue().runAll();
  EXPECT_THAT(refused, Optional(std::optional<std::string>()));
  EXPECT_THAT(stillMissing, Optional(std::optional<std::string>()));

  std::optional<std::optional<std::string>> orphaned;
  startTranslation("hr", orphaned);
  translator.end();
  modes.write("hbs-eng.mode", "echo.mode.in");
  installer.answer(true);
  translator.queue().runAll();
  EXPECT_THAT(orphaned, Optional(std::optional<std::string>()));
  expectNoChildrenLeft();
}

TEST(ApertiumServiceTest, PipelinesEndWhenTheProcessExitsWithoutDestructors) {
  int report[2];
  ASSERT_EQ(::pipe(report), 0);
  const pid_t agent = ::fork();
  ASSERT_GE(agent, 0);
  if (agent == 0) {
    ::close(report[0]);
    Translator translator;
    const bool ok = translator.translate("Hola.").has_value();
    std::string pids;
    for (pid_t p : children()) pids += std::to_string(p) + " ";
    if (ok) [[maybe_unused]]
      auto n = ::write(report[1], pids.data(), pids.size());
    std::_Exit(0);
  }
  ::close(report[1]);
  std::string pids;
  char buffer[256];
  for (ssize_t n; (n = ::read(report[0], buffer, sizeof buffer)) > 0;) pids.append(buffer, n);
  ::close(report[0]);
  ::waitpid(agent, nullptr, 0);
  std::istringstream list(pids);
  std::vector<pid_t> pipeline{std::istream_iterator<pid_t>(list), {}};
  ASSERT_GT(pipeline.size(), 3u);
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  for (pid_t pid : pipeline) {
    while (testing::alive(pid) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(10ms);
    }
    EXPECT_FALSE(testing::alive(pid)) << pid;
  }
}

}  // namespace
}  // namespace talvori
