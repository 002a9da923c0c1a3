#include "platform/sentences/model_store.h"

#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <system_error>

#include <QMetaObject>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QObject>

#include "platform/sentences/model_download.h"
#include "platform/sentences/model_manifest.h"

namespace talvori {

namespace {

// The folder holds one model the engine can load.
bool holdsModel(const std::filesystem::path& folder) {
  std::error_code error;
  std::vector<ModelRole> roles;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    const std::optional<ModelRole> role = modelFileRole(entry.path().filename().string());
    std::error_code statusError;
    if (role && entry.is_regular_file(statusError)) roles.push_back(*role);
  }
  return !error && formsModel(roles);
}

bool isFile(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

// One direction being installed: its missing files, fetched one after another.
struct Installation {
  std::vector<ModelStore::Done> answers;
  std::filesystem::path folder;
  std::vector<ModelFile> files;  // still to fetch, in order
  std::size_t next = 0;
  std::uint64_t total = 0;     // bytes of all of `files`
  std::uint64_t finished = 0;  // bytes of the files done with
  std::uint64_t current = 0;   // bytes of the file being fetched
  std::unique_ptr<ModelDownload> download;
};

class QtModelStore final : public QObject, public ModelStore {
 public:
  explicit QtModelStore(ModelStoreOptions options) : options_(std::move(options)) {}

  // Installations still running go with their downloads, unanswered; the network manager after
  // them.
  ~QtModelStore() override { installations_.clear(); }

  std::optional<std::filesystem::path> installed(SentenceDirection direction) override {
    const std::string folder(direction.folder());
    if (!options_.userModels.empty() && holdsModel(options_.userModels / folder)) {
      return options_.userModels / folder;
    }
    for (const std::filesystem::path& shared : options_.sharedModels) {
      if (holdsModel(shared / folder)) return shared / folder;
    }
    return std::nullopt;
  }

  bool downloadable(SentenceDirection direction) override {
    return ModelManifest::find(options_.manifestPaths).files(direction) != nullptr;
  }

  void install(SentenceDirection direction, Done done) override {
    auto running = installations_.find(direction);
    if (running != installations_.end()) {
      running->second->answers.push_back(std::move(done));
      return;
    }
    auto installation = std::make_unique<Installation>();
    installation->answers.push_back(std::move(done));
    installations_[direction] = std::move(installation);
    QMetaObject::invokeMethod(
        this, [this, direction] { begin(direction); }, Qt::QueuedConnection);
  }

 private:
  void begin(SentenceDirection direction) {
    if (std::optional<std::filesystem::path> folder = installed(direction)) {
      return finish(direction, folder);
    }
    const ModelManifest manifest = ModelManifest::find(options_.manifestPaths);
    const std::vector<ModelFile>* files = manifest.files(direction);
    if (files == nullptr || options_.userModels.empty()) return finish(direction, std::nullopt);
    Installation& installation = *installations_.at(direction);
    installation.folder = options_.userModels / std::string(direction.folder());
    std::error_code error;
    std::filesystem::create_directories(installation.folder, error);
    if (error) return finish(direction, std::nullopt);
    removeStaleTemporaries(installation.folder);
    for (const ModelFile& file : *files) {
      if (isFile(installation.folder / file.name)) continue;
      installation.files.push_back(file);
      installation.total += file.size;
    }
    fetchNext(direction);
  }

  void fetchNext(SentenceDirection direction) {
    Installation& installation = *installations_.at(direction);
    installation.download.reset();
    installation.current = 0;
    // Another process may have installed some of the files meanwhile.
    while (installation.next < installation.files.size() &&
           isFile(installation.folder / installation.files[installation.next].name)) {
      installation.finished += installation.files[installation.next++].size;
    }
    if (installation.next == installation.files.size()) {
      if (holdsModel(installation.folder)) return finish(direction, installation.folder);
      return finish(direction, std::nullopt);
    }
    const ModelFile& file = installation.files[installation.next];
    installation.download = std::make_unique<ModelDownload>(
        network(), file, installation.folder, options_.quietLimit,
        [this, direction](std::uint64_t bytes) {
          installations_.at(direction)->current = bytes;
          report();
        },
        [this, direction](bool ok) {
          if (!ok) return finish(direction, std::nullopt);
          Installation& done = *installations_.at(direction);
          done.finished += done.files[done.next++].size;
          fetchNext(direction);
        });
    installation.download->start();
  }

  // The bytes received of all installations' bytes, once there are any.
  void report() {
    std::uint64_t received = 0;
    std::uint64_t total = 0;
    for (const auto& [direction, installation] : installations_) {
      received += installation->finished + installation->current;
      total += installation->total;
    }
    if (received == 0 || total == 0) return;
    const int percent = static_cast<int>(received * 100 / total);
    if (percent == reported_) return;
    reported_ = percent;
    reportProgress(percent);
  }

  // Answers everyone waiting for `direction`; last, as an answer may destroy the store.
  void finish(SentenceDirection direction, std::optional<std::filesystem::path> folder) {
    auto found = installations_.find(direction);
    std::vector<Done> answers = std::move(found->second->answers);
    // The download may be the one answering now; destroying it only abandons its transfer.
    installations_.erase(found);
    reported_.reset();
    reportProgress(std::nullopt);
    for (const Done& answer : answers) answer(folder);
  }

  QNetworkAccessManager& network() {
    if (!network_) {
      QNetworkProxyFactory::setUseSystemConfiguration(true);
      network_ = std::make_unique<QNetworkAccessManager>();
    }
    return *network_;
  }

  const ModelStoreOptions options_;
  std::unique_ptr<QNetworkAccessManager> network_;
  std::map<SentenceDirection, std::unique_ptr<Installation>> installations_;
  std::optional<int> reported_;
};

// `directory`, when it is usable as an XDG base directory: set, and absolute.
std::optional<std::filesystem::path> baseDirectory(const char* directory) {
  if (directory == nullptr || *directory == '\0') return std::nullopt;
  std::filesystem::path path(directory);
  if (!path.is_absolute()) return std::nullopt;
  return path;
}

}  // namespace

ModelStoreOptions modelStoreOptions(const std::filesystem::path& executable,
                                    const char* xdgDataHome, const char* home,
                                    const char* xdgDataDirs) {
  ModelStoreOptions options;
  std::optional<std::filesystem::path> dataHome = baseDirectory(xdgDataHome);
  if (!dataHome) {
    if (std::optional<std::filesystem::path> homeFolder = baseDirectory(home)) {
      dataHome = *homeFolder / ".local" / "share";
    }
  }
  if (dataHome) {
    options.manifestPaths.push_back(*dataHome / "talvori" / kModelManifestName);
    options.userModels = *dataHome / "talvori" / "models";
  }
  if (executable.is_absolute()) {
    const std::filesystem::path folder = executable.parent_path();
    options.manifestPaths.push_back(folder / "share" / "talvori" / kModelManifestName);
    options.manifestPaths.push_back(
        (folder.parent_path() / "share" / "talvori" / kModelManifestName).lexically_normal());
  }
  std::string_view directories =
      xdgDataDirs != nullptr && *xdgDataDirs != '\0' ? xdgDataDirs : "/usr/local/share:/usr/share";
  while (true) {
    const std::size_t colon = directories.find(':');
    if (auto directory = baseDirectory(std::string(directories.substr(0, colon)).c_str())) {
      options.manifestPaths.push_back(*directory / "talvori" / kModelManifestName);
      options.sharedModels.push_back(*directory / "talvori" / "models");
    }
    if (colon == std::string_view::npos) break;
    directories.remove_prefix(colon + 1);
  }
  return options;
}

ModelStoreOptions modelStoreOptions() {
  std::error_code error;
  const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
  return modelStoreOptions(error ? std::filesystem::path() : executable,
                           std::getenv("XDG_DATA_HOME"), std::getenv("HOME"),
                           std::getenv("XDG_DATA_DIRS"));
}

std::unique_ptr<ModelStore> makeModelStore(ModelStoreOptions options) {
  return std::make_unique<QtModelStore>(std::move(options));
}

}  // namespace talvori
