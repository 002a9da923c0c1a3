// A stand-in PackageKit on a private message bus, for tests: the bus is a dbus-daemon of the
// test's own, and the stand-in answers PackageKit's calls on it with the signals the real daemon
// sends, acting out an outcome the test chooses.
#pragma once

#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QVariantMap>

#include "tests/fakes/private_bus.h"

namespace talvori::testing {

inline const QString kService = QStringLiteral("org.freedesktop.PackageKit");
inline const QString kTransaction = QStringLiteral("org.freedesktop.PackageKit.Transaction");
inline const QString kAvailableId =
    QStringLiteral("apertium-eu-en;0.3.3-1;all;debian-oldstable-main");
inline const QString kInstalledId = QStringLiteral("apertium-eu-en;0.3.3-1;all;manual:debian");

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
      call += ' ';
      call += argument.typeId() == QMetaType::QStringList
                  ? argument.toStringList().join(',').toStdString()
                  : argument.toString().toStdString();
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
          for (uint percent : {30u, 101u, 60u, 100u}) bus.send(percentage(path, percent));
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

// The stand-in's own connection to a private bus, on which it takes PackageKit's name when
// started and gives it up when it leaves (as the daemon does when it ends), or at the end.
class PackageKitOnBus {
 public:
  // `name` names the connection within this process; each bus needs one of its own.
  explicit PackageKitOnBus(const std::string& address,
                           const QString& name = QStringLiteral("stand-in-packagekit"))
      : name_(name),
        connection_(QDBusConnection::connectToBus(QString::fromStdString(address), name)) {}
  ~PackageKitOnBus() {
    connection_.unregisterService(kService);
    connection_.unregisterObject(QStringLiteral("/"), QDBusConnection::UnregisterTree);
    connection_ = QDBusConnection(QString());
    QDBusConnection::disconnectFromBus(name_);
  }
  PackageKitOnBus(const PackageKitOnBus&) = delete;
  PackageKitOnBus& operator=(const PackageKitOnBus&) = delete;

  // Puts the stand-in on the bus under PackageKit's name; false when that fails.
  bool start() {
    return connection_.isConnected() &&
           connection_.registerVirtualObject(QStringLiteral("/"), &fake,
                                             QDBusConnection::SubPath) &&
           connection_.registerService(kService);
  }
  bool leave() { return connection_.unregisterService(kService); }
  const QDBusConnection& connection() const { return connection_; }

  FakePackageKit fake;

 private:
  const QString name_;
  QDBusConnection connection_;
};

}  // namespace talvori::testing
