// PackageInstaller: installs one of the distribution's packages for the user, who is asked for
// permission by the system's own dialog.
//
// Main thread only. Each install is answered exactly once, later on the main thread and never
// from inside the call: true once the package is installed (or already was), false for every
// failure (no package system, permission refused, package not found, an error, the package
// system going away, a stall). An install still running when the installer is destroyed is not
// answered. While an install runs, the progress observers hear its percentage whenever it changes
// (none while the package system does not know it), and none once more when it has ended, just
// before its answer.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace talvori {

class PackageInstaller {
 public:
  using Done = std::function<void(bool installed)>;
  using ProgressObserver = std::function<void(std::optional<int> percent)>;

  virtual ~PackageInstaller() = default;

  // Installs the package named `package` (a distribution package name, not a path).
  virtual void install(const std::string& package, Done done) = 0;

  // Registers an observer of install progress for the installer's whole life.
  void onProgress(ProgressObserver observer) { observers_.push_back(std::move(observer)); }

 protected:
  void reportProgress(std::optional<int> percent) {
    for (const auto& observer : observers_) observer(percent);
  }

 private:
  std::vector<ProgressObserver> observers_;
};

}  // namespace talvori
