// A package installer for tests: each install waits until the test answers it, and is answered
// then, on the test's thread. Records the packages asked for; the test can report progress.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/packagekit/package_installer.h"

namespace talvori::testing {

class FakePackageInstaller : public PackageInstaller {
 public:
  // The packages asked for, in order.
  std::vector<std::string> requested;

  std::size_t pending() const { return pending_.size(); }

  // Ends the oldest install as the real installers do: progress none, then the answer.
  void answer(bool installed) {
    Done done = std::move(pending_.front());
    pending_.pop_front();
    reportProgress(std::nullopt);
    done(installed);
  }

  void report(std::optional<int> percent) { reportProgress(percent); }

  void install(const std::string& package, Done done) override {
    requested.push_back(package);
    pending_.push_back(std::move(done));
  }

 private:
  std::deque<Done> pending_;
};

}  // namespace talvori::testing
