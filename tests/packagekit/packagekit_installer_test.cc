// The PackageKit installer against a stand-in PackageKit on a private D-Bus bus of the test's own.
#include "platform/packagekit/packagekit_installer.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "gtest/gtest.h"
#include <QDBusConnection>
#include <QTimer>

#include "tests/fakes/fake_packagekit.h"
#include "tests/support/qt_application.h"

namespace talvori {
namespace {

using namespace std::chrono_literals;

using testing::FakePackageKit;
using testing::PrivateBus;

class PackageKitInstallerTest : public ::testing::Test {
 protected:
  using Outcome = FakePackageKit::Outcome;

  static void SetUpTestSuite() {
    testing::ensureQtApplication();
    bus_ = new PrivateBus();
  }
  static void TearDownTestSuite() { delete bus_; }

  PackageKitInstallerTest() : daemon_(bus_->address()), fake_(daemon_.fake) {}

  // Puts the stand-in on the bus under PackageKit's name.
  void startDaemon() { ASSERT_TRUE(daemon_.start()) << "no private bus at " << bus_->address(); }

  std::unique_ptr<PackageInstaller> makeInstaller(std::chrono::milliseconds quietLimit = 60s,
                                                  std::chrono::milliseconds totalLimit = 60s,
                                                  std::string address = {}) {
    PackageKitOptions options;
    options.busAddress = address.empty() ? bus_->address() : address;
    options.quietLimit = quietLimit;
    options.totalLimit = totalLimit;
    auto installer = makePackageKitInstaller(options);
    installer->onProgress([this](std::optional<int> percent) {
      progress_.push_back(percent ? std::to_string(*percent) : "?");
    });
    return installer;
  }

  // Starts installing apertium-eu-en; the answer lands in `answer`, never inside the call.
  void startInstall(PackageInstaller& installer) {
    answer_.reset();
    installer.install("apertium-eu-en", [this](bool installed) { answer_ = installed; });
    EXPECT_FALSE(answer_.has_value()) << "answered inside the call";
  }

  std::optional<bool> install(PackageInstaller& installer) {
    startInstall(installer);
    testing::runEventsUntil([this] { return answer_.has_value(); }, 20s);
    return answer_;
  }

  // Whether the last call the stand-in has had, or soon has, is a Cancel: the installer sends it
  // without waiting for it to arrive.
  bool cancelled() {
    return testing::runEventsUntil([this] { return fake_.calls().back() == "Cancel"; }, 20s);
  }

  // The progress heard since the last call, "?" for none.
  std::vector<std::string> takeProgress() { return std::exchange(progress_, {}); }

  static PrivateBus* bus_;
  testing::PackageKitOnBus daemon_;
  FakePackageKit& fake_;
  std::optional<bool> answer_;
  std::vector<std::string> progress_;
};

PrivateBus* PackageKitInstallerTest::bus_ = nullptr;

const std::vector<std::string> kResolved = {
    "CreateTransaction", "SetHints interactive=true,locale=C", "Resolve 65536 apertium-eu-en"};

TEST_F(PackageKitInstallerTest, ResolvesThenInstallsInteractivelyAndReportsProgress) {
  startDaemon();
  auto installer = makeInstaller();
  EXPECT_EQ(install(*installer), true);
  std::vector<std::string> expected = kResolved;
  for (const char* call : {"CreateTransaction", "SetHints interactive=true,locale=C",
                           "InstallPackages 2 apertium-eu-en;0.3.3-1;all;debian-oldstable-main"}) {
    expected.push_back(call);
  }
  EXPECT_EQ(fake_.calls(), expected);
  // 101 is PackageKit's unknown and 100 a full bar; the install's end turns the bar back to
  // unknown.
  EXPECT_EQ(takeProgress(), (std::vector<std::string>{"30", "?", "60", "100", "?"}));

  // A package that is there already needs no second transaction; the same connection serves.
  fake_.setOutcome(Outcome::alreadyInstalled);
  EXPECT_EQ(install(*installer), true);
  EXPECT_EQ(fake_.calls().size(), expected.size() + kResolved.size());
  EXPECT_EQ(fake_.callers().size(), 1u);
  EXPECT_EQ(takeProgress(), std::vector<std::string>{"?"});
}

TEST_F(PackageKitInstallerTest, RefusalUnknownNamesErrorCodesAndCancellingFail) {
  startDaemon();
  auto installer = makeInstaller();
  fake_.setOutcome(Outcome::unknownName);
  EXPECT_EQ(install(*installer), false);
  EXPECT_EQ(fake_.calls(), kResolved) << "nothing to install";

  fake_.setOutcome(Outcome::refuse);
  EXPECT_EQ(install(*installer), false);
  EXPECT_EQ(fake_.calls().back(),
            "InstallPackages 2 apertium-eu-en;0.3.3-1;all;debian-oldstable-main");

  // An error code fails the install even when the transaction then claims success.
  fake_.setOutcome(Outcome::errorThenSuccess);
  EXPECT_EQ(install(*installer), false);

  fake_.setOutcome(Outcome::cancelled);
  EXPECT_EQ(install(*installer), false);
  EXPECT_EQ(takeProgress(), (std::vector<std::string>{"?", "?", "?", "?"}));
}

// The quiet limit is far beyond the wait, so only the loss of PackageKit's bus name can end this.
TEST_F(PackageKitInstallerTest, FailsWhenPackageKitLeavesTheBusMidInstall) {
  startDaemon();
  auto installer = makeInstaller(10min, 10min);
  fake_.setOutcome(Outcome::hold);
  startInstall(*installer);
  ASSERT_TRUE(
      testing::runEventsUntil([this] { return progress_ == std::vector<std::string>{"10"}; }, 20s));
  ASSERT_TRUE(daemon_.leave());
  EXPECT_TRUE(testing::runEventsUntil([this] { return answer_.has_value(); }, 20s));
  EXPECT_EQ(answer_, false);
  EXPECT_EQ(takeProgress(), (std::vector<std::string>{"10", "?"}));
}

// A transaction that goes quiet, or that keeps talking but never finishes, is cancelled.
TEST_F(PackageKitInstallerTest, CancelsAndFailsStalledInstalls) {
  startDaemon();
  fake_.setOutcome(Outcome::hold);
  auto quiet = makeInstaller(300ms, 10min);
  EXPECT_EQ(install(*quiet), false);
  EXPECT_TRUE(cancelled());

  auto endless = makeInstaller(10min, 500ms);
  QTimer chatter;
  QObject::connect(&chatter, &QTimer::timeout,
                   [this] { fake_.sendPercentage(daemon_.connection(), 20); });
  chatter.start(50);
  EXPECT_EQ(install(*endless), false);
  chatter.stop();
  EXPECT_TRUE(cancelled());
}

// An install that keeps signalling outlives the quiet limit many times over, since each signal
// starts it afresh; once the signals stop, the limit ends the install.
TEST_F(PackageKitInstallerTest, SignalsKeepAnInstallAlivePastTheQuietLimit) {
  startDaemon();
  fake_.setOutcome(Outcome::hold);
  auto installer = makeInstaller(600ms, 10min);
  startInstall(*installer);
  ASSERT_TRUE(
      testing::runEventsUntil([this] { return progress_ == std::vector<std::string>{"10"}; }, 20s));
  QTimer chatter;
  QObject::connect(&chatter, &QTimer::timeout,
                   [this] { fake_.sendPercentage(daemon_.connection(), 20); });
  chatter.start(30);
  testing::runEventsUntil([this] { return answer_.has_value(); }, 4 * 600ms);
  EXPECT_FALSE(answer_.has_value()) << "ended while PackageKit was still signalling";
  chatter.stop();
  EXPECT_TRUE(testing::runEventsUntil([this] { return answer_.has_value(); }, 20s));
  EXPECT_EQ(answer_, false);
  EXPECT_TRUE(cancelled());
}

// A bus that takes connections and never answers (its daemon stopped) holds up neither the
// event loop nor an install past its stall limit, which counts the wait for the bus; a second
// install waits for the same attempt. Once the bus answers again, the next install goes through.
TEST_F(PackageKitInstallerTest, AHungBusHoldsUpNothingPastTheStallLimit) {
  PrivateBus hung;
  testing::PackageKitOnBus packageKit(hung.address(), QStringLiteral("stand-in-on-hung-bus"));
  ASSERT_TRUE(packageKit.start());
  hung.freeze();
  // Should the installer block the event loop, the bus is let go after a while, so that the
  // test fails instead of hanging.
  std::mutex mutex;
  std::condition_variable ended;
  bool over = false;
  std::atomic<bool> thawed = false;
  std::thread watchdog([&] {
    std::unique_lock lock(mutex);
    if (!ended.wait_for(lock, 30s, [&] { return over; })) {
      thawed = true;
      hung.thaw();
    }
  });

  auto installer = makeInstaller(500ms, 60s, hung.address());
  for (int attempt = 0; attempt < 2; ++attempt) {
    startInstall(*installer);
    EXPECT_TRUE(testing::runEventsUntil([this] { return answer_.has_value(); }, 20s));
    EXPECT_EQ(answer_, false);
    EXPECT_FALSE(thawed) << "answered only once the bus was let go";
  }
  {
    std::lock_guard lock(mutex);
    over = true;
  }
  ended.notify_one();
  watchdog.join();
  hung.thaw();
  EXPECT_EQ(install(*installer), true);
  EXPECT_EQ(packageKit.fake.calls().back(),
            "InstallPackages 2 apertium-eu-en;0.3.3-1;all;debian-oldstable-main");
}

// Without PackageKit on the bus, or without a bus at all, installs fail, later and every time.
TEST_F(PackageKitInstallerTest, FailsWithoutPackageKitOrBus) {
  auto noDaemon = makeInstaller();
  EXPECT_EQ(install(*noDaemon), false);
  EXPECT_EQ(install(*noDaemon), false);
  auto noBus = makeInstaller(60s, 60s, "unix:path=/nonexistent/talvori/socket");
  EXPECT_EQ(install(*noBus), false);
  EXPECT_EQ(install(*noBus), false);
  EXPECT_EQ(takeProgress(), (std::vector<std::string>{"?", "?", "?", "?"}));
}

}  // namespace
}  // namespace talvori
