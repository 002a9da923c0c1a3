// The PackageKit installer against a stand-in PackageKit on a private D-Bus bus of the test's own.
#include "platform/packagekit_installer.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QTimer>
#include <QVariantMap>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "gtest/gtest.h"
#include "tests/qt_application.h"

namespace talvori {
namespace {

using namespace std::chrono_literals;

const QString kService = QStringLiteral("org.freedesktop.PackageKit");
const QString kTransaction = QStringLiteral("org.freedesktop.PackageKit.Transaction");
const QString kAvailableId = QStringLiteral("apertium-eu-en;0.3.3-1;all;debian-oldstable-main");
const QString kInstalledId = QStringLiteral("apertium-eu-en;0.3.3-1;all;manual:debian");

// A message bus of the test's own: dbus-daemon with a configuration that lets anyone own any
// name, listening on a socket in a fresh folder. Stopped (by process id) and removed at the end.
class PrivateBus {
 public:
  PrivateBus() {
    char folder[] = "/tmp/talvori-bus-XXXXXX";
    folder_ = ::mkdtemp(folder);
    address_ = "unix:path=" + (folder_ / "socket").string();
    std::ofstream(folder_ / "bus.conf")
        << "<busconfig><type>session</type><listen>" << address_ << "</listen>"
        << "<auth>EXTERNAL</auth><policy context=\"default\">"
        << "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
        << "<allow own=\"*\"/></policy></busconfig>\n";
    const std::string config = "--config-file=" + (folder_ / "bus.conf").string();
    // The bus ends with the test's main thread, even when the test dies without cleaning up.
    pid_ = ::fork();
    if (pid_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 1);
      ::dup2(null, 2);
      ::execl("/usr/bin/dbus-daemon", "dbus-daemon", config.c_str(), "--nofork", nullptr);
      ::_exit(127);
    }
    for (int i = 0; i < 400 && pid_ > 0 && !std::filesystem::exists(folder_ / "socket"); ++i) {
      ::usleep(25000);
    }
  }

  ~PrivateBus() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    std::filesystem::remove_all(folder_);
  }

  const std::string& address() const { return address_; }

 private:
  std::filesystem::path folder_;
  std::string address_;
  pid_t pid_ = -1;
};

// Stands in for PackageKit: answers its methods on every path, and acts out the outcome the test
// chose with the signals the real daemon sends. It writes down each call ("Resolve 65536
// apertium-eu-en"). QtDBus calls it on its own thread, hence the lock.
class FakePackageKit final : public QDBusVirtualObject {
 public:
  enum class Outcome {
    install,
    alreadyInstalled,
    unknownName,
    refuse,
    errorThenSuccess,
    cancelled,
    hold
  };

  void setOutcome(Outcome outcome) {
    std::lock_guard lock(mutex_);
    outcome_ = outcome;
  }

  // Every call so far, and who made them.
  std::vector<std::string> calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  std::set<QString> callers() const {
    std::lock_guard lock(mutex_);
    return callers_;
  }
  // The path of the newest transaction.
  QString transaction() const {
    std::lock_guard lock(mutex_);
    return QStringLiteral("/transaction%1").arg(transactions_);
  }

  // Sends a progress percentage on the newest transaction.
  void sendPercentage(const QDBusConnection& bus, uint percent) {
    bus.send(percentage(transaction(), percent));
  }

  QString introspect(const QString&) const override { return {}; }

  bool handleMessage(const QDBusMessage& message, const QDBusConnection& bus) override {
    std::lock_guard lock(mutex_);
    const QString member = message.member();
    std::string call = member.toStdString();
    for (const QVariant& argument : message.arguments()) {
      call += " " + (argument.typeId() == QMetaType::QStringList
                         ? argument.toStringList().join(',').toStdString()
                         : argument.toString().toStdString());
    }
    calls_.push_back(call);
    callers_.insert(message.service());
    const QString path = message.path();
    if (member == QLatin1String("CreateTransaction")) {
      const QString created = QStringLiteral("/transaction%1").arg(++transactions_);
      bus.send(message.createReply(QVariant::fromValue(QDBusObjectPath(created))));
      return true;
    }
    bus.send(message.createReply());
    if (member == QLatin1String("Resolve")) {
      if (outcome_ == Outcome::alreadyInstalled) bus.send(package(path, 1, kInstalledId));
      if (outcome_ != Outcome::unknownName && outcome_ != Outcome::alreadyInstalled) {
        bus.send(package(path, 2, kAvailableId));
      }
      bus.send(finished(path, 1));
    } else if (member == QLatin1String("InstallPackages")) {
      switch (outcome_) {
        case Outcome::install:
          for (uint percent : {30u, 101u, 60u}) bus.send(percentage(path, percent));
          bus.send(makeSignal(path, kTransaction, "Package", {12u, kAvailableId, QString()}));
          bus.send(finished(path, 1));
          bus.send(makeSignal(path, kTransaction, "Destroy", {}));
          break;
        case Outcome::refuse:
          bus.send(
              makeSignal(path, kTransaction, "ErrorCode", {48u, QStringLiteral("not-authorized")}));
          bus.send(finished(path, 2));
          break;
        case Outcome::errorThenSuccess:
          bus.send(makeSignal(path, kTransaction, "ErrorCode",
                              {26u, QStringLiteral("cannot-get-lock")}));
          bus.send(finished(path, 1));
          break;
        case Outcome::cancelled:  // by someone else, say
          bus.send(finished(path, 3));
          break;
        case Outcome::hold:
          bus.send(percentage(path, 10));
          break;
        default:
          bus.send(finished(path, 1));
      }
    }
    return true;
  }

 private:
  static QDBusMessage makeSignal(const QString& path, const QString& interface, const char* name,
                                 const QList<QVariant>& arguments) {
    QDBusMessage message = QDBusMessage::createSignal(path, interface, QString::fromLatin1(name));
    message.setArguments(arguments);
    return message;
  }
  static QDBusMessage package(const QString& path, uint info, const QString& id) {
    return makeSignal(path, kTransaction, "Package", {info, id, QStringLiteral("summary")});
  }
  static QDBusMessage finished(const QString& path, uint exit) {
    return makeSignal(path, kTransaction, "Finished", {exit, 5u});
  }
  static QDBusMessage percentage(const QString& path, uint percent) {
    const QVariantMap changed{{QStringLiteral("Percentage"), QVariant::fromValue(percent)},
                              {QStringLiteral("Status"), QVariant::fromValue(9u)}};
    return makeSignal(path, QStringLiteral("org.freedesktop.DBus.Properties"), "PropertiesChanged",
                      {kTransaction, changed, QStringList()});
  }

  mutable std::mutex mutex_;
  Outcome outcome_ = Outcome::install;
  std::vector<std::string> calls_;
  std::set<QString> callers_;
  int transactions_ = 0;
};

class PackageKitInstallerTest : public ::testing::Test {
 protected:
  using Outcome = FakePackageKit::Outcome;

  static void SetUpTestSuite() {
    testing::ensureQtApplication();
    bus_ = new PrivateBus();
  }
  static void TearDownTestSuite() { delete bus_; }

  PackageKitInstallerTest()
      : daemon_(QDBusConnection::connectToBus(QString::fromStdString(bus_->address()),
                                              QStringLiteral("fake-packagekit"))) {}

  ~PackageKitInstallerTest() override {
    daemon_.unregisterService(kService);
    daemon_.unregisterObject(QStringLiteral("/"), QDBusConnection::UnregisterTree);
    daemon_ = QDBusConnection(QString());
    QDBusConnection::disconnectFromBus(QStringLiteral("fake-packagekit"));
  }

  // Puts the stand-in on the bus under PackageKit's name.
  void startDaemon() {
    ASSERT_TRUE(daemon_.isConnected()) << "no private bus at " << bus_->address();
    ASSERT_TRUE(
        daemon_.registerVirtualObject(QStringLiteral("/"), &fake_, QDBusConnection::SubPath));
    ASSERT_TRUE(daemon_.registerService(kService));
  }

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
  QDBusConnection daemon_;
  FakePackageKit fake_;
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
  // 101 is PackageKit's unknown; the install's end turns the bar back to unknown as well.
  EXPECT_EQ(takeProgress(), (std::vector<std::string>{"30", "?", "60", "?"}));

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
  ASSERT_TRUE(daemon_.unregisterService(kService));
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
  QObject::connect(&chatter, &QTimer::timeout, [this] { fake_.sendPercentage(daemon_, 20); });
  chatter.start(50);
  EXPECT_EQ(install(*endless), false);
  chatter.stop();
  EXPECT_TRUE(cancelled());
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
