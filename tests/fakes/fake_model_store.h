// A model store for tests: which directions are installed and downloadable is set by the test;
// each install waits until the test answers it, and is answered then, on the test's thread.
// Records the directions asked for; the test can report progress.
#pragma once

#include <deque>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/sentences/model_store.h"

namespace talvori::testing {

class FakeModelStore : public ModelStore {
 public:
  // The directions asked to install, in order.
  std::vector<SentenceDirection> requested;

  // Where a direction counts as installed; none for not installed.
  void setInstalled(SentenceDirection direction, std::optional<std::filesystem::path> folder) {
    installed_[direction] = std::move(folder);
  }
  void setDownloadable(SentenceDirection direction, bool downloadable) {
    downloadable_[direction] = downloadable;
  }
  // The folder a successful install of `direction` installs into (else /fake/models/<folder>).
  void setInstallFolder(SentenceDirection direction, std::filesystem::path folder) {
    installFolders_[direction] = std::move(folder);
  }

  std::size_t pending() const { return pending_.size(); }

  // Ends the oldest install as the real store does: progress none, then the answer. A success
  // installs its direction first; a failure leaves it as it was.
  void answer(bool success) {
    auto [direction, done] = std::move(pending_.front());
    pending_.pop_front();
    std::optional<std::filesystem::path> folder;
    if (success) {
      const auto chosen = installFolders_.find(direction);
      folder = chosen != installFolders_.end()
                   ? chosen->second
                   : std::filesystem::path("/fake/models") / std::string(direction.folder());
      installed_[direction] = folder;
    }
    reportProgress(std::nullopt);
    done(folder);
  }

  void report(std::optional<int> percent) { reportProgress(percent); }

  std::optional<std::filesystem::path> installed(SentenceDirection direction) override {
    const auto found = installed_.find(direction);
    return found == installed_.end() ? std::nullopt : found->second;
  }

  bool downloadable(SentenceDirection direction) override {
    const auto found = downloadable_.find(direction);
    return found != downloadable_.end() && found->second;
  }

  void install(SentenceDirection direction, Done done) override {
    requested.push_back(direction);
    pending_.emplace_back(direction, std::move(done));
  }

 private:
  std::map<SentenceDirection, std::optional<std::filesystem::path>> installed_;
  std::map<SentenceDirection, bool> downloadable_;
  std::map<SentenceDirection, std::filesystem::path> installFolders_;
  std::deque<std::pair<SentenceDirection, Done>> pending_;
};

}  // namespace talvori::testing
