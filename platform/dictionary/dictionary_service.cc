#include "platform/dictionary/dictionary_service.h"

#include <unistd.h>

#include <cstdlib>
#include <string>
#include <system_error>
#include <utility>

#include "platform/dictionary/dictionary_index.h"
#include "platform/dictionary/dictionary_text.h"

namespace talvori {

namespace {

bool isChinese(const Language& language) {
  return language.primary() == "zh" &&
         (language.script().empty() || language.script() == "Hans" || language.script() == "Hant");
}

// Simplified by its script or, without one, by its region: Taiwan, Hong Kong and Macao write
// Traditional characters.
bool isSimplifiedChinese(const Language& language) {
  if (language.primary() != "zh") return false;
  if (!language.script().empty()) return language.script() == "Hans";
  return language.region() != "TW" && language.region() != "HK" && language.region() != "MO";
}

bool isEnglish(const Language& language) { return language.primary() == "en"; }

// Opens the index on first need and shares it with the sessions and availability objects. Main
// thread only.
class IndexHolder {
 public:
  explicit IndexHolder(std::vector<std::filesystem::path> paths) : paths_(std::move(paths)) {}

  // The open index, opening it now if none is open yet; null while none opens.
  const DictionaryIndex* index() {
    if (!index_) {
      for (const auto& path : paths_) {
        index_ = DictionaryIndex::open(path);
        if (index_) break;
      }
    }
    return index_.get();
  }

  // The answer for `text` in `direction`, or none.
  std::optional<std::string> answer(DictionaryDirection direction, std::string_view text) {
    const DictionaryIndex* open = index();
    if (open == nullptr) return std::nullopt;
    if (direction == DictionaryDirection::chineseToEnglish) {
      // A text without Han characters ("88", "110") is no Chinese word, whatever the index
      // files under it. Most such texts are told apart before their key is made.
      if (!mayKeyHan(text)) return std::nullopt;
      const std::string key = chineseKey(text);
      if (!containsHan(key)) return std::nullopt;
      return open->englishFor(key);
    }
    return open->chineseFor(englishKey(text));
  }

 private:
  const std::vector<std::filesystem::path> paths_;
  std::unique_ptr<DictionaryIndex> index_;
};

class DictionarySession : public TranslationSession {
 public:
  DictionarySession(MainQueue& mainQueue, std::shared_ptr<IndexHolder> holder,
                    std::optional<DictionaryDirection> direction)
      : mainQueue_(mainQueue), holder_(std::move(holder)), direction_(direction) {}

  void translate(std::string text, TranslateCallback done) override {
    std::optional<std::string> result;
    if (direction_) result = holder_->answer(*direction_, text);
    mainQueue_.post([done = std::move(done), result = std::move(result)]() mutable {
      done(std::move(result));
    });
  }

 private:
  MainQueue& mainQueue_;
  std::shared_ptr<IndexHolder> holder_;
  const std::optional<DictionaryDirection> direction_;
};

class DictionaryAvailability : public LanguageAvailability {
 public:
  DictionaryAvailability(MainQueue& mainQueue, std::shared_ptr<IndexHolder> holder)
      : mainQueue_(mainQueue), holder_(std::move(holder)) {}

  // For the pair, whatever the text: a text it has no answer for fails in translation.
  void statusFrom(const Language& from, const Language& to, std::string_view,
                  StatusCallback done) override {
    const bool served = dictionaryDirection(from, to) && holder_->index() != nullptr;
    const AvailabilityStatus status =
        served ? AvailabilityStatus::installed : AvailabilityStatus::unsupported;
    mainQueue_.post([done = std::move(done), status] { done(status); });
  }

  void statusFor(std::string_view text, const Language& to, TextStatusCallback done) override {
    std::optional<AvailabilityStatus> status;
    if (const auto direction = dictionaryDirection(std::nullopt, to)) {
      if (holder_->answer(*direction, text)) status = AvailabilityStatus::installed;
    }
    mainQueue_.post([done = std::move(done), status] { done(status); });
  }

 private:
  MainQueue& mainQueue_;
  std::shared_ptr<IndexHolder> holder_;
};

class DictionaryService : public TranslationService {
 public:
  DictionaryService(MainQueue& mainQueue, std::vector<std::filesystem::path> indexPaths)
      : mainQueue_(mainQueue), holder_(std::make_shared<IndexHolder>(std::move(indexPaths))) {}

  std::unique_ptr<LanguageAvailability> makeAvailability() override {
    return std::make_unique<DictionaryAvailability>(mainQueue_, holder_);
  }

  std::unique_ptr<TranslationSession> makeSession(
      const TranslationConfiguration& configuration) override {
    return std::make_unique<DictionarySession>(
        mainQueue_, holder_, dictionaryDirection(configuration.source(), configuration.target()));
  }

 private:
  MainQueue& mainQueue_;
  std::shared_ptr<IndexHolder> holder_;
};

void addDataDirectory(std::vector<std::filesystem::path>& paths, std::string_view directory) {
  const std::filesystem::path base(directory);
  if (base.is_absolute()) paths.push_back(base / "talvori" / kDictionaryIndexName);
}

}  // namespace

std::optional<DictionaryDirection> dictionaryDirection(const std::optional<Language>& from,
                                                       const Language& to) {
  if (isEnglish(to) && (!from || isChinese(*from))) return DictionaryDirection::chineseToEnglish;
  if (isSimplifiedChinese(to) && (!from || isEnglish(*from))) {
    return DictionaryDirection::englishToChinese;
  }
  return std::nullopt;
}

std::vector<std::filesystem::path> dictionaryIndexPaths(const std::filesystem::path& executable,
                                                        const char* xdgDataHome, const char* home,
                                                        const char* xdgDataDirs) {
  std::vector<std::filesystem::path> paths;
  if (executable.is_absolute()) {
    const std::filesystem::path folder = executable.parent_path();
    paths.push_back(folder / "share" / "talvori" / kDictionaryIndexName);
    paths.push_back(
        (folder.parent_path() / "share" / "talvori" / kDictionaryIndexName).lexically_normal());
  }
  if (xdgDataHome != nullptr && *xdgDataHome != '\0') {
    addDataDirectory(paths, xdgDataHome);
  } else if (home != nullptr && *home != '\0') {
    addDataDirectory(paths, (std::filesystem::path(home) / ".local" / "share").string());
  }
  std::string_view directories =
      xdgDataDirs != nullptr && *xdgDataDirs != '\0' ? xdgDataDirs : "/usr/local/share:/usr/share";
  while (true) {
    const std::size_t colon = directories.find(':');
    addDataDirectory(paths, directories.substr(0, colon));
    if (colon == std::string_view::npos) break;
    directories.remove_prefix(colon + 1);
  }
  return paths;
}

std::vector<std::filesystem::path> dictionaryIndexPaths() {
  std::error_code error;
  const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
  return dictionaryIndexPaths(error ? std::filesystem::path() : executable,
                              std::getenv("XDG_DATA_HOME"), std::getenv("HOME"),
                              std::getenv("XDG_DATA_DIRS"));
}

std::unique_ptr<TranslationService> makeDictionaryService(
    MainQueue& mainQueue, std::vector<std::filesystem::path> indexPaths) {
  return std::make_unique<DictionaryService>(mainQueue, std::move(indexPaths));
}

}  // namespace talvori
