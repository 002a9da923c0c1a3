#include "platform/packagekit/packagekit_installer.h"

#include <functional>
#include <optional>
#include <utility>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <QVariantMap>

namespace talvori {

namespace {

const QString kService = QStringLiteral("org.freedesktop.PackageKit");
const QString kPath = QStringLiteral("/org/freedesktop/PackageKit");
const QString kTransaction = QStringLiteral("org.freedesktop.PackageKit.Transaction");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

constexpr qulonglong kFilterNewest = 1 << 16;
constexpr qulonglong kOnlyTrusted = 2;
constexpr uint kInfoInstalled = 1;
constexpr uint kInfoAvailable = 2;
constexpr uint kExitSuccess = 1;

// Hands every D-Bus signal it is connected to over to a function. QtDBus delivers signals only
// to slots, hence this small object.
class SignalRelay final : public QObject {
  Q_OBJECT
 public:
  explicit SignalRelay(std::function<void(const QDBusMessage&)> handle, QObject* parent)
      : QObject(parent), handle_(std::move(handle)) {}

 public slots:
  void deliver(const QDBusMessage& message) { handle_(message); }

 private:
  std::function<void(const QDBusMessage&)> handle_;
};

// One install: a Resolve transaction that finds the package id, then an InstallPackages
// transaction for it, each with the interactive hint, one action per transaction as PackageKit
// requires. It answers once, from an event-loop turn after the one that made it, and then deletes
// itself. Main thread only.
class Install final : public QObject {
 public:
  using Progress = std::function<void(std::optional<int>)>;

  Install(QDBusConnection bus, QString package, const PackageKitOptions& options, Progress progress,
          PackageInstaller::Done done, QObject* parent)
      : QObject(parent),
        bus_(std::move(bus)),
        package_(std::move(package)),
        callTimeout_(static_cast<int>(options.quietLimit.count())),
        progress_(std::move(progress)),
        done_(std::move(done)) {
    quiet_.setSingleShot(true);
    quiet_.setInterval(options.quietLimit);
    total_.setSingleShot(true);
    total_.setInterval(options.totalLimit);
    connect(&quiet_, &QTimer::timeout, this, [this] { giveUp(); });
    connect(&total_, &QTimer::timeout, this, [this] { giveUp(); });
  }

  void start() {
    if (finished_) return;
    if (!bus_.isConnected()) {
      finish(false);
      return;
    }
    quiet_.start();
    total_.start();
    createTransaction();
  }

  // Ends the install as failed; for when PackageKit has left the bus.
  void abandon() { finish(false); }

  // Runs once with the answer, after the install has ended.
  std::function<void(Install*)> onEnd;

 private:
  enum class Step { resolve, install };

  void createTransaction() {
    callThen(QDBusMessage::createMethodCall(kService, kPath, kService,
                                            QStringLiteral("CreateTransaction")),
             [this](const QDBusMessage& reply) {
               const QList<QVariant> arguments = reply.arguments();
               if (arguments.size() != 1) return finish(false);
               path_ = qvariant_cast<QDBusObjectPath>(arguments.first()).path();
               if (path_.isEmpty()) return finish(false);
               if (!listen(reply.service())) return finish(false);
               QDBusMessage hints = transactionCall(QStringLiteral("SetHints"));
               hints << QStringList{QStringLiteral("interactive=true"), QStringLiteral("locale=C")};
               callThen(hints, [this](const QDBusMessage&) { act(); });
             });
  }

  void act() {
    QDBusMessage call;
    if (step_ == Step::resolve) {
      call = transactionCall(QStringLiteral("Resolve"));
      call << kFilterNewest << QStringList{package_};
    } else {
      call = transactionCall(QStringLiteral("InstallPackages"));
      call << kOnlyTrusted << QStringList{packageId_};
    }
    // The outcome comes as signals.
    callThen(call, [](const QDBusMessage&) {});
  }

  // Follows the signals of the transaction at path_, sent by `daemon` (the unique bus name of the
  // PackageKit that made it), in place of the previous transaction's. False when the bus refused.
  bool listen(const QString& daemon) {
    dropRelay();
    relay_ = new SignalRelay([this](const QDBusMessage& message) { onSignal(message); }, this);
    bool listening = true;
    for (const char* member : {"Package", "ErrorCode", "Finished", "Destroy"}) {
      listening =
          listening && bus_.connect(daemon, path_, kTransaction, QString::fromLatin1(member),
                                    relay_, SLOT(deliver(QDBusMessage)));
    }
    return listening &&
           bus_.connect(daemon, path_, kProperties, QStringLiteral("PropertiesChanged"), relay_,
                        SLOT(deliver(QDBusMessage)));
  }

  void onSignal(const QDBusMessage& message) {
    if (finished_ || message.path() != path_) return;
    quiet_.start();
    const QString member = message.member();
    const QList<QVariant> arguments = message.arguments();
    if (member == QLatin1String("PropertiesChanged")) {
      const QVariantMap changed = qdbus_cast<QVariantMap>(arguments.value(1));
      const auto percentage = changed.constFind(QStringLiteral("Percentage"));
      if (percentage != changed.constEnd()) {
        // 101 means that PackageKit cannot tell.
        const uint value = percentage->toUInt();
        report(value <= 100 ? std::optional<int>(static_cast<int>(value)) : std::nullopt);
      }
    } else if (member == QLatin1String("Package")) {
      if (step_ != Step::resolve || arguments.size() < 2) return;
      const uint info = arguments.at(0).toUInt();
      if (info == kInfoInstalled) installed_ = true;
      if (info == kInfoAvailable && packageId_.isEmpty()) packageId_ = arguments.at(1).toString();
    } else if (member == QLatin1String("ErrorCode")) {
      finish(false);
    } else if (member == QLatin1String("Finished")) {
      if (arguments.value(0).toUInt() != kExitSuccess) return finish(false);
      if (step_ == Step::install || installed_) return finish(true);
      // A name that Resolve does not know gives no package at all.
      if (packageId_.isEmpty()) return finish(false);
      step_ = Step::install;
      path_.clear();
      createTransaction();
    } else if (member == QLatin1String("Destroy")) {
      finish(false);  // gone before it finished
    }
  }

  // Cancels the transaction in progress, without waiting for the outcome, and fails.
  void giveUp() {
    if (finished_) return;
    if (!path_.isEmpty()) bus_.asyncCall(transactionCall(QStringLiteral("Cancel")));
    finish(false);
  }

  QDBusMessage transactionCall(const QString& method) const {
    return QDBusMessage::createMethodCall(kService, path_, kTransaction, method);
  }

  // Sends `call`; a successful reply goes to `next`, an error ends the install.
  void callThen(const QDBusMessage& call, std::function<void(const QDBusMessage&)> next) {
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, callTimeout_), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, next = std::move(next)](QDBusPendingCallWatcher* finishedCall) {
              finishedCall->deleteLater();
              if (finished_) return;
              const QDBusMessage reply = finishedCall->reply();
              if (reply.type() != QDBusMessage::ReplyMessage) return finish(false);
              quiet_.start();
              next(reply);
            });
  }

  void report(std::optional<int> percent) {
    if (percent == reported_) return;
    reported_ = percent;
    progress_(percent);
  }

  void dropRelay() {
    if (relay_ == nullptr) return;
    // Deleting the receiver also removes its signal connections.
    relay_->deleteLater();
    relay_ = nullptr;
  }

  void finish(bool installed) {
    if (finished_) return;
    finished_ = true;
    quiet_.stop();
    total_.stop();
    dropRelay();
    progress_(std::nullopt);
    auto done = std::move(done_);
    if (onEnd) onEnd(this);
    deleteLater();
    done(installed);
  }

  QDBusConnection bus_;
  const QString package_;
  const int callTimeout_;
  Progress progress_;
  PackageInstaller::Done done_;
  QTimer quiet_;
  QTimer total_;
  Step step_ = Step::resolve;
  QString path_;       // the transaction being followed, empty between transactions
  QString packageId_;  // what Resolve offered to install
  bool installed_ = false;
  bool finished_ = false;
  std::optional<int> reported_;
  SignalRelay* relay_ = nullptr;
};

class PackageKitInstaller final : public QObject, public PackageInstaller {
 public:
  explicit PackageKitInstaller(PackageKitOptions options)
      : options_(std::move(options)),
        connectionName_(QStringLiteral("talvori-packagekit-%1").arg(++instances_)) {}

  // Installs still running are children, and go unanswered.
  ~PackageKitInstaller() override {
    delete watcher_;
    if (connected_) QDBusConnection::disconnectFromBus(connectionName_);
  }

  void install(const std::string& package, Done done) override {
    auto* job = new Install(
        connection(), QString::fromStdString(package), options_,
        [this](std::optional<int> percent) { reportProgress(percent); }, std::move(done), this);
    running_.insert(job);
    job->onEnd = [this](Install* ended) { running_.remove(ended); };
    QMetaObject::invokeMethod(
        job, [job] { job->start(); }, Qt::QueuedConnection);
  }

 private:
  // The one connection, made now if there is none yet; it is not connected when the bus cannot be
  // reached.
  QDBusConnection connection() {
    if (connected_) {
      QDBusConnection bus(connectionName_);
      if (bus.isConnected()) return bus;
      delete watcher_;
      watcher_ = nullptr;
      QDBusConnection::disconnectFromBus(connectionName_);
    }
    QDBusConnection bus =
        options_.busAddress.empty()
            ? QDBusConnection::connectToBus(QDBusConnection::SystemBus, connectionName_)
            : QDBusConnection::connectToBus(QString::fromStdString(options_.busAddress),
                                            connectionName_);
    connected_ = bus.isConnected();
    if (!connected_) {
      QDBusConnection::disconnectFromBus(connectionName_);
      return bus;
    }
    watcher_ = new QDBusServiceWatcher(kService, bus, QDBusServiceWatcher::WatchForOwnerChange);
    connect(watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString& oldOwner, const QString&) {
              if (!oldOwner.isEmpty()) abandonAll();
            });
    return bus;
  }

  // PackageKit left the bus (or another took its name): every install it was running fails.
  void abandonAll() {
    const QSet<Install*> running = running_;
    for (Install* install : running) install->abandon();
  }

  static inline int instances_ = 0;  // main thread only, like everything here

  const PackageKitOptions options_;
  const QString connectionName_;
  bool connected_ = false;
  QDBusServiceWatcher* watcher_ = nullptr;
  QSet<Install*> running_;
};

}  // namespace

std::unique_ptr<PackageInstaller> makePackageKitInstaller(PackageKitOptions options) {
  return std::make_unique<PackageKitInstaller>(std::move(options));
}

}  // namespace talvori

#include "packagekit_installer.moc"
