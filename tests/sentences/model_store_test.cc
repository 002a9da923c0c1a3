// The model store against an HTTP(S) server on loopback that the test starts (model_server.py),
// with small files of random bytes made here; installs that are killed or run out of disk run in
// a child process (model_install_child).
#include "platform/sentences/model_store.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "gtest/gtest.h"
#include <QCryptographicHash>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <nlohmann/json.hpp>

#include "tests/support/qt_application.h"

namespace talvori {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;
namespace fs = std::filesystem;

const SentenceDirection kZhEn = SentenceDirection::chineseToEnglish();

std::string randomBytes(std::size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(generator());
  return bytes;
}

std::string gzipped(const std::string& bytes) {
  z_stream stream{};
  deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&stream, bytes.size()), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  stream.avail_in = static_cast<uInt>(bytes.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

std::string sha256(const std::string& bytes) {
  return QCryptographicHash::hash(
             QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())),
             QCryptographicHash::Sha256)
      .toHex()
      .toStdString();
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A child process whose standard output the test reads; killed, if still running, and reaped when
// it goes. It also ends when the test's thread that started it ends.
class Process {
 public:
  explicit Process(std::vector<std::string> arguments) {
    int input[2];
    int output[2];
    if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC) != 0) return;
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      ::dup2(input[0], 0);
      ::dup2(output[1], 1);
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 2);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(input[0]);
    ::close(output[1]);
    input_ = input[1];
    output_ = output[0];
  }

  ~Process() {
    if (input_ >= 0) ::close(input_);
    kill();
    if (output_ >= 0) ::close(output_);
  }

  pid_t pid() const { return pid_; }

  // The next line of output, without its line feed; none at its end or after `timeout`.
  std::optional<std::string> readLine(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
      const std::size_t end = buffer_.find('\n');
      if (end != std::string::npos) {
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd ready{output_, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) <= 0) {
        return std::nullopt;
      }
      char chunk[4096];
      const ssize_t got = ::read(output_, chunk, sizeof chunk);
      if (got <= 0) return std::nullopt;
      buffer_.append(chunk, static_cast<std::size_t>(got));
    }
  }

  // Every line until the output ends (or `timeout` passes).
  std::vector<std::string> readAll(std::chrono::milliseconds timeout) {
    std::vector<std::string> lines;
    while (std::optional<std::string> line = readLine(timeout)) lines.push_back(*line);
    return lines;
  }

  void kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  // Waits for the process to end by itself; gives its exit status, or none when a signal ended
  // it.
  std::optional<int> wait() {
    int status = 0;
    if (pid_ <= 0 || ::waitpid(pid_, &status, 0) != pid_) return std::nullopt;
    pid_ = -1;
    return WIFEXITED(status) ? std::optional<int>(WEXITSTATUS(status)) : std::nullopt;
  }

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  std::string buffer_;
};

// The test's HTTP server and the files it serves.
class ModelServer {
 public:
  ModelServer() {
    char folder[] = "/tmp/talvori-served-XXXXXX";
    folder_ = ::mkdtemp(folder);
    const fs::path certificate = folder_ / "certificate.pem";
    const fs::path key = folder_ / "key.pem";
    const std::string make =
        "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1"
        " -addext subjectAltName=IP:127.0.0.1 -keyout " +
        key.string() + " -out " + certificate.string() + " 2>/dev/null";
    secure_ = std::system(make.c_str()) == 0;
    certificatePath_ = certificate;
    std::vector<std::string> arguments = {
        TALVORI_PYTHON, TALVORI_SOURCE_DIR "/tests/sentences/model_server.py", folder_.string()};
    if (secure_) {
      arguments.push_back(certificate.string());
      arguments.push_back(key.string());
    }
    process_ = std::make_unique<Process>(arguments);
    for (int expected = secure_ ? 2 : 1; expected > 0; --expected) {
      std::istringstream line(process_->readLine(60s).value_or(""));
      std::string scheme;
      int port = 0;
      line >> scheme >> port;
      (scheme == "https" ? httpsPort_ : port_) = port;
    }
  }

  ~ModelServer() {
    process_.reset();
    fs::remove_all(folder_);
  }

  bool running() const { return port_ > 0 && (!secure_ || httpsPort_ > 0); }
  bool secure() const { return secure_; }
  const fs::path& certificate() const { return certificatePath_; }

  void serve(const std::string& name, const std::string& bytes) {
    writeFile(folder_ / name, bytes);
  }
  void forgetRequests() { fs::remove(folder_ / "requests.log"); }

  std::string url(const std::string& fault, const std::string& name, bool https = false) const {
    return (https ? "https://127.0.0.1:" + std::to_string(httpsPort_)
                  : "http://127.0.0.1:" + std::to_string(port_)) +
           "/" + fault + "/" + name;
  }

  // The paths requested so far, in order.
  std::vector<std::string> requests() const {
    std::vector<std::string> paths;
    std::istringstream log(readFile(folder_ / "requests.log"));
    for (std::string line; std::getline(log, line);) paths.push_back(line);
    return paths;
  }

 private:
  fs::path folder_;
  fs::path certificatePath_;
  bool secure_ = false;
  std::unique_ptr<Process> process_;
  int port_ = 0;
  int httpsPort_ = 0;
};

// A served file: what the store should install, and what the server sends for it.
struct Served {
  std::string name;       // on the server
  std::string installed;  // the bytes the store should install
  std::string sent;       // the bytes the server sends
};

class ModelStoreTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Loopback is never reached through a proxy.
    for (const char* variable :
         {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
      ::unsetenv(variable);
    }
    ::setenv("no_proxy", "127.0.0.1,localhost", 1);
    testing::ensureQtApplication();
    server_ = new ModelServer();
    const auto serve = [](const std::string& name, std::string installed, bool gzip) {
      Served file{name, installed, gzip ? gzipped(installed) : installed};
      server_->serve(name, file.sent);
      return file;
    };
    vocab_ = serve("vocab.gz", randomBytes(20000, 1), true);
    lex_ = serve("lex.bin", randomBytes(12000, 2), false);
    model_ = serve("model.gz", randomBytes(300000, 3), true);
    // Much larger decompressed than downloaded.
    roomy_ = serve("roomy.gz", std::string(2 << 20, 'x') + randomBytes(1000, 4), true);
    damaged_ = serve("damaged.gz", randomBytes(5000, 5), false);
    cut_ = serve("cut.gz", model_.sent.substr(0, model_.sent.size() - 6), false);
  }

  static void TearDownTestSuite() { delete server_; }

  ModelStoreTest() {
    char folder[] = "/tmp/talvori-home-XXXXXX";
    home_ = ::mkdtemp(folder);
    options_.manifestPaths = {home_ / "models.json"};
    options_.userModels = home_ / "models";
    options_.sharedModels = {home_ / "shared"};
  }

  ~ModelStoreTest() override { fs::remove_all(home_); }

  void SetUp() override {
    ASSERT_TRUE(server_->running());
    server_->forgetRequests();
  }

  static Json entry(const std::string& name, const std::string& url, const Served& served,
                    bool gzip = true) {
    return {{"name", name},
            {"url", url},
            {"sha256", sha256(served.sent)},
            {"size", served.sent.size()},
            {"gzip", gzip}};
  }

  // The zh->en files: a vocabulary, a shortlist served as it is, and the model, whose entry the
  // test may change.
  static Json zhenFiles(Json model) {
    return Json{entry("vocab.zhen.spm", server_->url("ok", "vocab.gz"), vocab_),
                entry("lex.zhen.bin", server_->url("ok", "lex.bin"), lex_, false),
                std::move(model)};
  }
  static Json modelEntry(const std::string& fault = "ok", const Served& served = model_) {
    return entry("model.zhen.bin", server_->url(fault, served.name), served);
  }

  void writeManifest(const Json& zhen) {
    Json document;
    document["zh-Hans>en"]["files"] = zhen;
    writeFile(home_ / "models.json", document.dump());
  }

  std::unique_ptr<ModelStore> makeStore(std::chrono::milliseconds quietLimit = 60s) {
    ModelStoreOptions options = options_;
    options.quietLimit = quietLimit;
    auto store = makeModelStore(options);
    store->onProgress([this](std::optional<int> percent) {
      progress_.push_back(percent ? std::to_string(*percent) : "?");
    });
    return store;
  }

  // Starts installing zh->en; the answer lands in `answer`, never inside the call.
  void startInstall(ModelStore& store, std::optional<std::optional<fs::path>>& answer) {
    answer.reset();
    store.install(kZhEn, [&answer](std::optional<fs::path> folder) { answer = folder; });
    EXPECT_FALSE(answer.has_value()) << "answered inside the call";
  }

  std::optional<fs::path> install(ModelStore& store) {
    std::optional<std::optional<fs::path>> answer;
    startInstall(store, answer);
    EXPECT_TRUE(testing::runEventsUntil([&answer] { return answer.has_value(); }, 120s));
    return answer.value_or(std::nullopt);
  }

  fs::path folder() const { return home_ / "models" / "zhen"; }

  // The names in the direction's folder, sorted.
  std::vector<std::string> names() const {
    std::vector<std::string> found;
    std::error_code error;
    for (const auto& item : fs::directory_iterator(folder(), error)) {
      found.push_back(item.path().filename().string());
    }
    std::sort(found.begin(), found.end());
    return found;
  }

  // The names of temporaries (hidden files) in the direction's folder.
  std::vector<std::string> temporaries() const {
    std::vector<std::string> found = names();
    std::erase_if(found, [](const std::string& name) { return name.front() != '.'; });
    return found;
  }

  // Whether the folder holds the three files whole, and nothing else.
  void expectInstalled(const fs::path& at) const {
    EXPECT_EQ(readFile(at / "vocab.zhen.spm"), vocab_.installed);
    EXPECT_EQ(readFile(at / "lex.zhen.bin"), lex_.installed);
    EXPECT_EQ(readFile(at / "model.zhen.bin"), model_.installed);
    EXPECT_EQ(names(),
              (std::vector<std::string>{"lex.zhen.bin", "model.zhen.bin", "vocab.zhen.spm"}));
  }

  std::size_t requestsFor(const std::string& path) const {
    const std::vector<std::string> all = server_->requests();
    return static_cast<std::size_t>(std::count(all.begin(), all.end(), path));
  }

  // The progress heard since the last call, "?" for none.
  std::vector<std::string> takeProgress() { return std::exchange(progress_, {}); }

  static ModelServer* server_;
  static Served vocab_, lex_, model_, roomy_, damaged_, cut_;
  fs::path home_;
  ModelStoreOptions options_;
  std::vector<std::string> progress_;
};

ModelServer* ModelStoreTest::server_ = nullptr;
Served ModelStoreTest::vocab_, ModelStoreTest::lex_, ModelStoreTest::model_, ModelStoreTest::roomy_,
    ModelStoreTest::damaged_, ModelStoreTest::cut_;

TEST_F(ModelStoreTest, DownloadsVerifiesDecompressesAndInstalls) {
  writeManifest(zhenFiles(modelEntry()));
  auto store = makeStore();
  EXPECT_TRUE(store->downloadable(kZhEn));
  EXPECT_FALSE(store->downloadable(SentenceDirection::englishToChinese()));
  EXPECT_EQ(store->installed(kZhEn), std::nullopt);

  EXPECT_EQ(install(*store), folder());
  expectInstalled(folder());
  EXPECT_EQ(store->installed(kZhEn), folder());
  // The model comes last, so that a folder never holds a model without its vocabulary.
  EXPECT_EQ(server_->requests(),
            (std::vector<std::string>{"/ok/vocab.gz", "/ok/lex.bin", "/ok/model.gz"}));
  // Percentages of the bytes received, rising to 100, then none at the end.
  const std::vector<std::string> progress = takeProgress();
  ASSERT_GE(progress.size(), 2u);
  EXPECT_EQ(progress.back(), "?");
  EXPECT_EQ(progress[progress.size() - 2], "100");
  for (std::size_t i = 0; i + 1 < progress.size(); ++i) {
    EXPECT_NE(progress[i], "?");
    if (i > 0) {
      EXPECT_LT(std::stoi(progress[i - 1]), std::stoi(progress[i]));
    }
  }

  // Installed: answered with the folder, nothing downloaded.
  EXPECT_EQ(install(*store), folder());
  EXPECT_EQ(server_->requests().size(), 3u);
  EXPECT_EQ(takeProgress(), std::vector<std::string>{"?"});
}

// A model an administrator placed under a data directory is used, unless the user's own folder
// holds one; a folder is a model only with the files the engine needs, once each.
TEST_F(ModelStoreTest, UsesModelsPlacedUnderTheDataDirectories) {
  writeManifest(zhenFiles(modelEntry()));
  auto store = makeStore();
  const fs::path shared = home_ / "shared" / "zhen";
  fs::create_directories(shared);
  writeFile(shared / "model.zhen.bin", "m");
  EXPECT_EQ(store->installed(kZhEn), std::nullopt) << "no vocabulary";
  writeFile(shared / "srcvocab.zhen.spm", "s");
  writeFile(shared / "vocab.zhen.spm", "v");
  EXPECT_EQ(store->installed(kZhEn), std::nullopt) << "two kinds of vocabulary";
  fs::remove(shared / "srcvocab.zhen.spm");
  EXPECT_EQ(store->installed(kZhEn), shared);
  EXPECT_EQ(install(*store), shared);
  EXPECT_TRUE(server_->requests().empty());

  fs::create_directories(folder());
  writeFile(folder() / "model.zhen.bin", "m");
  EXPECT_EQ(store->installed(kZhEn), shared) << "the user's folder holds no model yet";
  writeFile(folder() / "vocab.zhen.spm", "v");
  EXPECT_EQ(store->installed(kZhEn), folder());
}

// Each fault fails the install, keeps the files finished before it and leaves nothing else; the
// next install fetches only what is missing.
TEST_F(ModelStoreTest, EachFaultFailsThatInstallOnly) {
  // A port that nothing listens on.
  const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(probe);
  const std::string refused =
      "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/ok/model.gz";

  struct Case {
    const char* what;
    Json model;
  };
  Json wrongDigest = modelEntry();
  wrongDigest["sha256"] = sha256(vocab_.sent);
  Json longer = modelEntry();
  longer["size"] = model_.sent.size() + 1;
  Json shorter = modelEntry();
  shorter["size"] = model_.sent.size() - 1;
  const std::vector<Case> cases = {
      {"404", modelEntry("missing")},
      {"redirect to a 404", entry("model.zhen.bin", server_->url("redirect", "absent.gz"), model_)},
      {"truncated", modelEntry("truncate")},
      {"reset", modelEntry("reset")},
      {"refused", entry("model.zhen.bin", refused, model_)},
      {"wrong digest", wrongDigest},
      {"longer than sent", longer},
      {"shorter than sent", shorter},
      {"not gzip data", modelEntry("ok", damaged_)},
      {"gzip data cut short", modelEntry("ok", cut_)},
  };
  for (const Case& fault : cases) {
    SCOPED_TRACE(fault.what);
    fs::remove_all(home_ / "models");
    writeManifest(zhenFiles(fault.model));
    auto store = makeStore();
    EXPECT_EQ(install(*store), std::nullopt);
    EXPECT_EQ(store->installed(kZhEn), std::nullopt);
    EXPECT_EQ(names(), (std::vector<std::string>{"lex.zhen.bin", "vocab.zhen.spm"}));
    const std::vector<std::string> progress = takeProgress();
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), "?");

    writeManifest(zhenFiles(modelEntry()));
    const std::size_t before = server_->requests().size();
    EXPECT_EQ(install(*store), folder());
    expectInstalled(folder());
    // Only the missing file is fetched again. The HTTP client may send a request twice when a
    // kept-alive connection closes under it, so the count is not exact.
    const std::vector<std::string> requests = server_->requests();
    ASSERT_GT(requests.size(), before);
    for (std::size_t i = before; i < requests.size(); ++i) EXPECT_EQ(requests[i], "/ok/model.gz");
  }
}

// Redirects are followed, and the bytes are taken as the server stores them even when it claims
// a content encoding: the digest is of those bytes.
TEST_F(ModelStoreTest, FollowsRedirectsAndKeepsTheBytesAsSent) {
  writeManifest(Json{entry("vocab.zhen.spm", server_->url("redirect", "vocab.gz"), vocab_),
                     entry("lex.zhen.bin", server_->url("ok", "lex.bin"), lex_, false),
                     modelEntry("encoded")});
  auto store = makeStore();
  EXPECT_EQ(install(*store), folder());
  expectInstalled(folder());
  EXPECT_EQ(requestsFor("/ok/vocab.gz"), 1u);
}

// A slow server that keeps sending is waited for, with progress on the way; one that goes quiet
// fails the install, before the first byte or after some.
TEST_F(ModelStoreTest, WaitsForSlowServersButNotForQuietOnes) {
  writeManifest(zhenFiles(modelEntry("slow")));
  auto patient = makeStore(30s);
  EXPECT_EQ(install(*patient), folder());
  expectInstalled(folder());
  const std::vector<std::string> progress = takeProgress();
  EXPECT_GE(progress.size(), 5u);

  for (const char* fault : {"stall", "hang"}) {
    SCOPED_TRACE(fault);
    fs::remove(folder() / "model.zhen.bin");
    writeManifest(zhenFiles(modelEntry(fault)));
    // Only the quiet limit can end this: the server holds the connection for ten minutes.
    auto hasty = makeStore(500ms);
    EXPECT_EQ(install(*hasty), std::nullopt);
    EXPECT_EQ(names(), (std::vector<std::string>{"lex.zhen.bin", "vocab.zhen.spm"}));
  }
}

// Two stores (two agents) install the same direction into one folder at once; each answers with
// the folder, whose files are whole. One store asked twice downloads once.
TEST_F(ModelStoreTest, TwoStoresInstallingAtOnceBothSucceed) {
  writeManifest(zhenFiles(modelEntry("slow")));
  auto first = makeStore();
  auto second = makeStore();
  std::optional<std::optional<fs::path>> one, two, again;
  startInstall(*first, one);
  startInstall(*second, two);
  startInstall(*first, again);
  ASSERT_TRUE(testing::runEventsUntil(
      [&] { return one.has_value() && two.has_value() && again.has_value(); }, 120s));
  EXPECT_EQ(*one, folder());
  EXPECT_EQ(*two, folder());
  EXPECT_EQ(*again, folder());
  expectInstalled(folder());
  EXPECT_LE(requestsFor("/slow/model.gz"), 2u);
}

// A download killed half-way leaves a temporary that no later look-up takes for a model; the next
// install removes it, but not one that a live process holds. A store destroyed mid-download
// removes its own.
TEST_F(ModelStoreTest, AnInterruptedInstallLeavesNothingThatIsUsed) {
  writeManifest(zhenFiles(modelEntry("stall")));
  {
    Process child({TALVORI_BINARY_DIR "/tests/model_install_child",
                   (home_ / "models.json").string(), (home_ / "models").string(), "zh-Hans>en"});
    // The server sends half of the model and then holds on.
    const auto halfWritten = [this] {
      for (const std::string& name : temporaries()) {
        std::error_code error;
        const std::uintmax_t size = fs::file_size(folder() / name, error);
        if (!error && size >= model_.sent.size() / 2) return true;
      }
      return false;
    };
    ASSERT_TRUE(testing::runEventsUntil(halfWritten, 60s));
    child.kill();
  }
  ASSERT_EQ(temporaries().size(), 1u);
  auto store = makeStore();
  EXPECT_EQ(store->installed(kZhEn), std::nullopt);

  // A temporary that another process is writing.
  const std::string held = ".model.zhen.bin.Held01.part";
  const int holder = ::open((folder() / held).c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
  ASSERT_EQ(::flock(holder, LOCK_EX), 0);

  writeManifest(zhenFiles(modelEntry()));
  EXPECT_EQ(install(*store), folder());
  EXPECT_EQ(temporaries(), std::vector<std::string>{held});
  ::close(holder);

  // Destroyed mid-download: unanswered, and no temporary left.
  fs::remove(folder() / "model.zhen.bin");
  fs::remove(folder() / held);
  writeManifest(zhenFiles(modelEntry("stall")));
  auto abandoned = makeStore();
  std::optional<std::optional<fs::path>> answer;
  startInstall(*abandoned, answer);
  ASSERT_TRUE(testing::runEventsUntil([this] { return !temporaries().empty(); }, 60s));
  abandoned.reset();
  EXPECT_TRUE(temporaries().empty());
  testing::runEventsUntil([] { return false; }, 100ms);
  EXPECT_FALSE(answer.has_value());
}

// A disk that fills up while the model downloads, or while it is decompressed, fails the install
// and leaves no temporary; the next install, with room, succeeds.
TEST_F(ModelStoreTest, AFullDiskFailsTheInstallCleanly) {
  struct Case {
    const char* what;
    Served model;
    std::size_t room;
  };
  const std::vector<Case> cases = {
      {"downloading", model_, 200 * 1024},
      {"decompressing", roomy_, 1024 * 1024},
  };
  for (const Case& full : cases) {
    SCOPED_TRACE(full.what);
    fs::remove_all(home_ / "models");
    writeManifest(zhenFiles(modelEntry("ok", full.model)));
    Process child({TALVORI_BINARY_DIR "/tests/model_install_child",
                   (home_ / "models.json").string(), (home_ / "models").string(), "zh-Hans>en",
                   std::to_string(full.room)});
    const std::vector<std::string> lines = child.readAll(120s);
    EXPECT_EQ(child.wait(), 0);
    ASSERT_GE(lines.size(), 3u);
    // How the disk was made small: a tmpfs (as root, or in a user namespace), else a file size
    // limit.
    std::cout << "[ note     ] " << lines[0] << "\n";
    EXPECT_EQ(lines[1], "answer none");
    EXPECT_EQ(lines[2], "installed none");
    std::vector<std::string> entries(lines.begin() + 3, lines.end());
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::string>{"entry lex.zhen.bin", "entry vocab.zhen.spm"}));

    auto store = makeStore();
    EXPECT_EQ(install(*store), folder());
    EXPECT_EQ(readFile(folder() / "model.zhen.bin"), full.model.installed);
    EXPECT_TRUE(temporaries().empty());
  }
}

// An https server whose certificate no authority vouches for is refused before any request; the
// same server, once its certificate is trusted, serves, but a redirect from it to plain http is
// not followed.
TEST_F(ModelStoreTest, VerifiesTheServersCertificate) {
  ASSERT_TRUE(server_->secure()) << "openssl could not make a certificate";
  const auto httpsModel = [](const std::string& fault) {
    return entry("model.zhen.bin", server_->url(fault, "model.gz", true), model_);
  };
  writeManifest(zhenFiles(httpsModel("ok")));
  auto untrusting = makeStore();
  EXPECT_EQ(install(*untrusting), std::nullopt);
  EXPECT_EQ(requestsFor("/ok/model.gz"), 0u);
  EXPECT_TRUE(temporaries().empty());

  const QSslConfiguration original = QSslConfiguration::defaultConfiguration();
  QSslConfiguration trusting = original;
  trusting.addCaCertificates(QString::fromStdString(server_->certificate().string()));
  QSslConfiguration::setDefaultConfiguration(trusting);
  writeManifest(zhenFiles(httpsModel("to-http")));
  auto downgraded = makeStore();
  EXPECT_EQ(install(*downgraded), std::nullopt);
  EXPECT_EQ(requestsFor("/to-http/model.gz"), 1u);
  EXPECT_EQ(requestsFor("/ok/model.gz"), 0u);

  writeManifest(zhenFiles(httpsModel("ok")));
  auto trusted = makeStore();
  EXPECT_EQ(install(*trusted), folder());
  QSslConfiguration::setDefaultConfiguration(original);
  expectInstalled(folder());
  EXPECT_EQ(requestsFor("/ok/model.gz"), 1u);
}

// Without a manifest entry, or without a folder to install into, nothing is downloaded.
TEST_F(ModelStoreTest, FailsWithoutManifestOrHome) {
  auto store = makeStore();
  EXPECT_FALSE(store->downloadable(kZhEn));
  EXPECT_EQ(install(*store), std::nullopt);

  writeManifest(zhenFiles(modelEntry()));
  options_.userModels.clear();
  auto homeless = makeStore();
  EXPECT_TRUE(homeless->downloadable(kZhEn));
  EXPECT_EQ(install(*homeless), std::nullopt);
  EXPECT_TRUE(server_->requests().empty());
}

}  // namespace
}  // namespace talvori
