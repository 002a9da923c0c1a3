// The panel as a person sees it: the agent on a real X server (Xvfb) with no window manager, once
// without a compositor and once with one (xcompmgr), and screenshots of the root window. Where
// the panel stands, the screen must show nothing of it at start-up and after a reply, and the
// panel itself during a first use (here an install that a stand-in PackageKit holds, or a model
// download that a loopback server holds half-way).
// The screenshots are kept in the build tree, in screenshots/. The end of input in the middle of
// such an install is checked here too.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include <QApplication>
#include <QDBusConnection>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QWidget>

#include "tests/fakes/fake_packagekit.h"
#include "tests/sentences/sentence_test_models.h"
#include "tests/sentences/served_models.h"
#include "tests/support/agent_process.h"
#include "tests/support/qt_application.h"

namespace talvori {
namespace {

using namespace std::chrono_literals;
using testing::AgentProcess;
using testing::FakePackageKit;
using testing::PrivateBus;
using testing::requestLine;

constexpr int kScreenWidth = 1024;
constexpr int kScreenHeight = 768;
// Where the panel stands: 416 x 236, centred on the screen.
const QRect kPanel((kScreenWidth - 416) / 2, (kScreenHeight - 236) / 2, 416, 236);

// A program started for the test and stopped by its process id at the end.
class Child {
 public:
  explicit Child(std::vector<std::string> arguments) {
    pid_ = ::fork();
    if (pid_ == 0) {
      std::vector<char*> argv;
      for (auto& argument : arguments) argv.push_back(argument.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
  }
  ~Child() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

 private:
  pid_t pid_ = -1;
};

class ScreenTest : public ::testing::Test {
 protected:
  // One X server for the whole suite; the test's own Qt application connects to it to take the
  // screenshots.
  static void SetUpTestSuite() {
    display_ = std::to_string(40 + ::getpid() % 50);
    display_.insert(0, 1, ':');
    const std::string socket = "/tmp/.X11-unix/X" + display_.substr(1);
    server_ = new Child({"/usr/bin/Xvfb", display_, "-screen", "0",
                         std::to_string(kScreenWidth) + "x" + std::to_string(kScreenHeight) + "x24",
                         "-nolisten", "tcp"});
    for (int i = 0; i < 400 && !std::filesystem::exists(socket); ++i) {
      std::this_thread::sleep_for(25ms);
    }
    setenv("DISPLAY", display_.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    static int argc = 1;
    static char name[] = "screen_test";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);  // never destroyed, as in the other Qt tests
    bus_ = new PrivateBus();
  }
  static void TearDownTestSuite() {
    delete bus_;
    delete server_;
  }

  ScreenTest() : daemon_(bus_->address()), fake_(daemon_.fake) {}

  // Puts the stand-in on the bus, holding every install it is asked for.
  void startHoldingDaemon() {
    fake_.setOutcome(FakePackageKit::Outcome::hold);
    ASSERT_TRUE(daemon_.start()) << "no private bus at " << bus_->address();
  }

  // The whole screen as it is now, after the X server has had a moment to draw; kept as
  // screenshots/NAME.png.
  static QImage screenshot(const std::string& name) {
    testing::runEventsUntil([] { return false; }, 500ms);
    const QImage image = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    QDir().mkpath(QString(TALVORI_BINARY_DIR) + "/screenshots");
    image.save(
        QString::fromStdString(std::string(TALVORI_BINARY_DIR) + "/screenshots/" + name + ".png"));
    return image;
  }

  // The share of the panel's place that differs from the same place in `before`.
  static double changedShare(const QImage& before, const QImage& now) {
    int changed = 0;
    for (int y = kPanel.top(); y <= kPanel.bottom(); ++y) {
      for (int x = kPanel.left(); x <= kPanel.right(); ++x) {
        changed += before.pixel(x, y) != now.pixel(x, y);
      }
    }
    return static_cast<double>(changed) / (kPanel.width() * kPanel.height());
  }

  // The filled share of the panel's progress bar: on the row of the panel with the longest run
  // of blue pixels, that run over the width of the bar's frame. None when no row has such a run,
  // or when the run does not start at the frame's left end, as the chunk of an indeterminate bar
  // sweeping across it does not.
  static std::optional<double> barFill(const QImage& image) {
    const auto blue = [&](int x, int y) {
      const QRgb pixel = image.pixel(x, y);
      return qBlue(pixel) > qRed(pixel) + 60;
    };
    int row = -1, start = 0, length = 0;
    for (int y = kPanel.top(); y <= kPanel.bottom(); ++y) {
      for (int x = kPanel.left(); x <= kPanel.right();) {
        int end = x;
        while (end <= kPanel.right() && blue(end, y)) ++end;
        if (end - x > length) row = y, start = x, length = end - x;
        x = end + 1;
      }
    }
    if (length < 5) return std::nullopt;
    const QRgb background = image.pixel(kPanel.left() + 4, row);
    int left = kPanel.left(), right = kPanel.right();
    while (left < right && image.pixel(left, row) == background) ++left;
    while (right > left && image.pixel(right, row) == background) --right;
    if (start - left > 3) return std::nullopt;
    return static_cast<double>(length) / (right - left + 1);
  }

  // Start-up, a first use held mid-install, and the reply that ends it, each checked on screen.
  void expectPanelOnlyDuringFirstUse(const std::string& kind) {
    startHoldingDaemon();
    const QImage empty = screenshot(kind + "-before");

    AgentProcess agent(std::string(TALVORI_BINARY_DIR) + "/talvori",
                       {.environment = {"DISPLAY=" + display_, "QT_QPA_PLATFORM=",
                                        "DBUS_SYSTEM_BUS_ADDRESS=" + bus_->address()}});
    agent.write(requestLine("1", "hello", "en"));
    ASSERT_EQ(agent.readLines(1, 30s).size(), 1u) << agent.errors();
    EXPECT_LT(changedShare(empty, screenshot(kind + "-startup")), 0.001)
        << "the transparent panel is on screen at start-up";

    // Catalan, which no test installs: the stand-in holds its install.
    agent.write(requestLine("2", "Avui fa molt de sol i tothom és a la platja.", "en"));
    ASSERT_TRUE(testing::runEventsUntil(
        [this] {
          const auto calls = fake_.calls();
          return !calls.empty() && calls.back().starts_with("InstallPackages");
        },
        30s))
        << "the agent never asked to install";
    fake_.sendPercentage(daemon_.connection(), 40);
    EXPECT_GT(changedShare(empty, screenshot(kind + "-first-use")), 0.9)
        << "the opaque panel is not on screen during a first use";

    // PackageKit goes away: the install fails, the request is answered, the panel goes.
    ASSERT_TRUE(daemon_.leave());
    const auto lines = agent.readLines(2, 60s);
    ASSERT_EQ(lines.size(), 2u) << agent.errors();
    EXPECT_EQ(lines[1], testing::errorReply("2", testing::kFailedMessage));
    EXPECT_LT(changedShare(empty, screenshot(kind + "-after-reply")), 0.001)
        << "the panel stays on screen after the reply";
    agent.closeInput();
    EXPECT_EQ(agent.wait(20s), 0);
    EXPECT_EQ(agent.errors(), "");
  }

  static std::string display_;
  static Child* server_;
  static PrivateBus* bus_;
  testing::PackageKitOnBus daemon_;
  FakePackageKit& fake_;
};

std::string ScreenTest::display_;
Child* ScreenTest::server_ = nullptr;
PrivateBus* ScreenTest::bus_ = nullptr;

TEST_F(ScreenTest, WithoutACompositorThePanelShowsOnlyDuringAFirstUse) {
  expectPanelOnlyDuringFirstUse("plain");
}

// A compositor honours window opacity; the transparent panel must still leave nothing behind.
TEST_F(ScreenTest, WithACompositorThePanelShowsOnlyDuringAFirstUse) {
  const QRgb uncomposited = screenshot("uncomposited").pixel(0, 0);
  Child compositor({"/usr/bin/xcompmgr", "-d", display_});
  // The compositor paints the screen its own way at its first damage: a window of the test's
  // own, shown and hidden again, makes some.
  ASSERT_TRUE(testing::runEventsUntil(
      [&] {
        QWidget poke;
        poke.setGeometry(0, 0, 20, 20);
        poke.show();
        testing::runEventsUntil([] { return false; }, 100ms);
        poke.hide();
        testing::runEventsUntil([] { return false; }, 100ms);
        return QGuiApplication::primaryScreen()->grabWindow(0).toImage().pixel(0, 0) !=
               uncomposited;
      },
      20s))
      << "the compositor never drew";
  expectPanelOnlyDuringFirstUse("composited");
}

// A first Chinese sentence downloads the sentence engine's model: the panel shows the share of the
// direction's bytes received while the server holds the model file half-way, and goes with the
// reply. A later sentence, with the model installed, shows no panel even while it waits for the
// engine.
TEST_F(ScreenTest, AModelDownloadShowsItsProgressAndLaterSentencesNoPanel) {
  char folder[] = "/tmp/talvori-screen-XXXXXX";
  const std::filesystem::path scratch = ::mkdtemp(folder);
  for (const char* sub : {"data", "shared", "served"})
    std::filesystem::create_directories(scratch / sub);
  {
    testing::ServedModels served(testing::testModel("zhen"), "zh-Hans>en", scratch / "data",
                                 scratch / "served");
    ASSERT_TRUE(served.serving());
    served.writeManifest({{"model", "gate"}});
    std::uint64_t total = 0, held = 0;
    for (const auto& file : served.files()) {
      total += file.size;
      held += file.name.starts_with("model.") ? file.size / 2 : file.size;
    }
    const QImage empty = screenshot("model-before");
    AgentProcess agent(std::string(TALVORI_BINARY_DIR) + "/talvori",
                       {.environment = {"DISPLAY=" + display_, "QT_QPA_PLATFORM=",
                                        "DBUS_SYSTEM_BUS_ADDRESS=" + bus_->address(),
                                        "XDG_DATA_HOME=" + (scratch / "data").string(),
                                        "XDG_DATA_DIRS=" + (scratch / "shared").string()}});
    agent.write(requestLine("1", "新版本的程序每隔几分钟自动保存你的文档。", "auto"));
    const double expected = static_cast<double>(held) / total;
    std::optional<double> fill;
    QImage downloading;
    testing::runEventsUntil(
        [&] {
          downloading = screenshot("model-downloading");
          fill = barFill(downloading);
          return fill && std::abs(*fill - expected) < 0.04;
        },
        60s);
    EXPECT_GT(changedShare(empty, downloading), 0.9) << "the panel is not on screen";
    ASSERT_TRUE(fill.has_value()) << "no determinate progress on the panel";
    EXPECT_NEAR(*fill, expected, 0.04);

    served.release();
    auto lines = agent.readLines(1, 120s);
    ASSERT_EQ(lines.size(), 1u) << agent.errors();
    EXPECT_TRUE(lines[0].starts_with(R"({"id":"1","text":")")) << lines[0];
    EXPECT_LT(changedShare(empty, screenshot("model-after-reply")), 0.001);

    // The engine is stopped, so that the second request waits where a panel would show.
    std::vector<pid_t> engine;
    for (pid_t child : testing::childrenOf(agent.pid())) {
      if (testing::commandLineOf(child).find("sentence-engine.cjs") != std::string::npos) {
        engine.push_back(child);
      }
    }
    ASSERT_EQ(engine.size(), 1u);
    ASSERT_TRUE(testing::stopProcesses(engine));
    agent.write(requestLine("2", "我今天很高兴见到你。", "auto"));
    ASSERT_TRUE(testing::runEventsUntil([&] { return testing::pipeBytes(engine[0], 0) > 0; }, 30s));
    EXPECT_LT(changedShare(empty, screenshot("model-installed")), 0.001)
        << "a panel for an installed model";
    ::kill(engine[0], SIGCONT);
    lines = agent.readLines(2, 60s);
    ASSERT_EQ(lines.size(), 2u) << agent.errors();
    EXPECT_TRUE(lines[1].starts_with(R"({"id":"2","text":")")) << lines[1];
    EXPECT_EQ(served.requests().size(), 3u);
    agent.closeInput();
    EXPECT_EQ(agent.wait(20s), 0);
    EXPECT_EQ(agent.errors(), "");
  }
  std::filesystem::remove_all(scratch);
}

// The end of input ends the agent at once, as ever, even while an install is under way: the
// request being translated gets no reply.
TEST_F(ScreenTest, EndOfInputDuringAFirstUseEndsTheAgentAtOnce) {
  startHoldingDaemon();
  AgentProcess agent(std::string(TALVORI_BINARY_DIR) + "/talvori",
                     {.environment = {"DISPLAY=" + display_, "QT_QPA_PLATFORM=",
                                      "DBUS_SYSTEM_BUS_ADDRESS=" + bus_->address()}});
  agent.write(requestLine("1", "Avui fa molt de sol i tothom és a la platja.", "en"));
  ASSERT_TRUE(testing::runEventsUntil(
      [this] {
        const auto calls = fake_.calls();
        return !calls.empty() && calls.back().starts_with("InstallPackages");
      },
      30s));
  agent.closeInput();
  EXPECT_EQ(agent.wait(10s), 0);
  EXPECT_EQ(agent.output(), "");
  EXPECT_EQ(agent.errors(), "");
}

}  // namespace
}  // namespace talvori
