// ModelStore: where a sentence direction's model files are, and their installation the first time
// the direction is needed.
//
// Main thread only. Each install is answered exactly once, later on the main thread and never
// from inside the call: with the folder that holds the direction's model, or none for every
// failure (no manifest entry, refused connection, HTTP error, reset, truncated or oversized file,
// wrong digest, damaged gzip data, full disk, a server that goes quiet). A failed install keeps
// the files it finished and leaves nothing else behind; the next install tries the rest again.
// An install still running when the store is destroyed is not answered. While installs run, the
// progress observers hear the percentage of their bytes received whenever it changes (none before
// the first byte), and none once more when one has ended, just before its answer.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "platform/sentences/sentence_direction.h"

namespace talvori {

class ModelStore {
 public:
  using Done = std::function<void(std::optional<std::filesystem::path> folder)>;
  using ProgressObserver = std::function<void(std::optional<int> percent)>;

  virtual ~ModelStore() = default;

  // The folder holding a model for `direction` that the engine can load, or none.
  virtual std::optional<std::filesystem::path> installed(SentenceDirection direction) = 0;

  // Whether the manifest names files for `direction`.
  virtual bool downloadable(SentenceDirection direction) = 0;

  // Downloads the files of `direction` that are missing and answers with its folder; answers with
  // the folder at once (still later) when the direction is installed already.
  virtual void install(SentenceDirection direction, Done done) = 0;

  // Registers an observer of install progress for the store's whole life.
  void onProgress(ProgressObserver observer) { observers_.push_back(std::move(observer)); }

 protected:
  void reportProgress(std::optional<int> percent) {
    for (const auto& observer : observers_) observer(percent);
  }

 private:
  std::vector<ProgressObserver> observers_;
};

struct ModelStoreOptions {
  // Where the manifest may be, in the order looked; the first that exists is used whole.
  std::vector<std::filesystem::path> manifestPaths;
  // The folder that installs go into and that is looked in first, one subfolder per direction
  // (`zhen`, `enzh`); empty when there is none (no home), and then nothing can be installed.
  std::filesystem::path userModels;
  // Folders looked in after it, where an administrator may have placed models.
  std::vector<std::filesystem::path> sharedModels;
  // A download that has received nothing for this long fails (connecting included).
  std::chrono::milliseconds quietLimit{std::chrono::seconds(60)};
};

// The places for a process run as `executable` in this environment. The manifest is
// `talvori/models.json` under `xdgDataHome` (else `home`/.local/share), then under the data
// folders beside the executable (`share/` beside it, then `../share/`), then under each of
// `xdgDataDirs` (else /usr/local/share and /usr/share). Models are installed under
// `talvori/models/` of the first, and looked for there and then under `talvori/models/` of each
// of `xdgDataDirs`. Unset, empty or relative directories are skipped, as XDG asks.
ModelStoreOptions modelStoreOptions(const std::filesystem::path& executable,
                                    const char* xdgDataHome, const char* home,
                                    const char* xdgDataDirs);

// The same for this process: its executable and environment.
ModelStoreOptions modelStoreOptions();

// A store that downloads over HTTP(S) with Qt's network access, certificates verified against
// the system's authorities, through the proxies the environment names. Nothing is read or
// connected until a first call needs it; the manifest is read again by every `downloadable` and
// `install`, so that a corrected one takes effect without a restart. Needs the Qt application
// object; main thread only, like the interface.
std::unique_ptr<ModelStore> makeModelStore(ModelStoreOptions options = modelStoreOptions());

}  // namespace talvori
