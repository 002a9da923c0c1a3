#include "platform/apertium/apertium_service.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/serial_worker.h"
#include "base/utf8.h"
#include "platform/apertium/apertium_mode.h"
#include "platform/apertium/apertium_pairs.h"
#include "platform/apertium/apertium_pipeline.h"
#include "platform/apertium/apertium_text_format.h"

namespace talvori {

namespace {

using TranslateCallback = TranslationSession::TranslateCallback;

// Texts longer than about this many bytes go through the pipeline in several frames.
constexpr std::size_t kFramePieceSize = 256;

void postResult(MainQueue& mainQueue, TranslateCallback done, std::optional<std::string> result) {
  mainQueue.post(
      [done = std::move(done), result = std::move(result)]() mutable { done(std::move(result)); });
}

// Translates for one direction: owns that direction's pipeline and the worker thread that feeds
// it, one text at a time in the order submitted. Only the worker's jobs touch the pipeline (its
// programs die with the worker thread).
class DirectionWorker {
 public:
  DirectionWorker(MainQueue& mainQueue, std::filesystem::path modeFile,
                  const ApertiumOptions& options)
      : modeFile_(std::move(modeFile)),
        options_(options),
        worker_(mainQueue, {.end = [this] { pipeline_.reset(); }}) {}

  // Lets the translation in progress finish (its deadline bounds it), fails those waiting, and
  // ends the pipeline and the thread. Later submissions fail at once.
  void shutDown() { worker_.shutDown(); }

  void submit(std::string text, TranslateCallback done) {
    worker_.submit([this, text = std::move(text)] { return translate(text); }, std::move(done));
  }

 private:
  std::optional<std::string> translate(const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + options_.timeout +
                          options_.timeoutPerThousandCharacters *
                              static_cast<long long>(countCodePoints(text)) / 1000;
    if (pipeline_ && (served_ >= options_.recycleAfter || !pipeline_->alive())) pipeline_.reset();
    if (!pipeline_) {
      const std::optional<ProgramList> programs = loadModePrograms(modeFile_, deadline);
      if (!programs) return std::nullopt;
      pipeline_ = ApertiumPipeline::start(*programs);
      if (!pipeline_) return std::nullopt;
      served_ = 0;
    }
    ++served_;
    // A long text goes as several frames, cut at sentence ends, so that the pipeline's programs
    // work on different parts at once instead of each waiting for the whole text.
    // Superblanks around each frame carry its number through the pipeline: text can never forge
    // one (its brackets are escaped), so an answer that lacks either is not that frame's whole
    // answer.
    const std::string stream = deformatText(text);
    std::vector<std::string> frames;
    std::vector<std::pair<std::string, std::string>> markers;
    for (std::string_view piece : splitStream(stream, kFramePieceSize)) {
      const std::string number = std::to_string(++frames_);
      markers.emplace_back("[tvs" + number + "]", "[tve" + number + "]");
      frames.push_back(markers.back().first + std::string(piece) + markers.back().second);
    }
    std::optional<std::vector<std::string>> answers =
        pipeline_->exchange(frames, deadline, stream.size() * 64 + (1 << 20));
    std::string translated;
    for (std::size_t i = 0; answers && i < frames.size(); ++i) {
      const std::string& answer = (*answers)[i];
      const auto& [opening, closing] = markers[i];
      if (!answer.starts_with(opening) || !answer.ends_with(closing) ||
          answer.size() < opening.size() + closing.size()) {
        answers.reset();
        break;
      }
      translated.append(answer, opening.size(), answer.size() - opening.size() - closing.size());
    }
    if (!answers) {
      pipeline_.reset();  // the next translation starts a fresh one
      return std::nullopt;
    }
    return reformatText(translated);
  }

  const std::filesystem::path modeFile_;
  const ApertiumOptions options_;

  // Worker thread only.
  std::unique_ptr<ApertiumPipeline> pipeline_;
  std::size_t served_ = 0;
  std::uint64_t frames_ = 0;

  SerialWorker worker_;  // last: it ends before what its jobs use
};

// The workers of the directions in use, one per mode file, shared by every session for that
// direction. Kept apart from the service so that an install answered after the service has gone
// finds it gone. Destroying it ends every pipeline, even while sessions remain; those fail from
// then on. Main thread only, so the worker table needs no lock.
class Directions {
 public:
  Directions(MainQueue& mainQueue, ApertiumOptions options)
      : mainQueue_(mainQueue), options_(std::move(options)) {}

  ~Directions() {
    for (auto& [mode, worker] : workers_) worker->shutDown();
  }

  Directions(const Directions&) = delete;
  Directions& operator=(const Directions&) = delete;

  const ApertiumOptions& options() const { return options_; }

  // The worker for the direction `source`-`target` (ISO 639-3), or none while its mode is not
  // installed.
  std::shared_ptr<DirectionWorker> workerFor(const std::string& source, const std::string& target) {
    const std::optional<std::filesystem::path> mode =
        findMode(options_.modesDirectory, source, target);
    if (!mode) return nullptr;
    std::shared_ptr<DirectionWorker>& worker = workers_[*mode];
    if (!worker) worker = std::make_shared<DirectionWorker>(mainQueue_, *mode, options_);
    return worker;
  }

 private:
  MainQueue& mainQueue_;
  const ApertiumOptions options_;
  std::map<std::filesystem::path, std::shared_ptr<DirectionWorker>> workers_;
};

// A light handle on one direction. Each translation goes to the direction's worker; when the
// direction is not installed but Debian offers its package, the package is installed first, and
// the translation fails if that fails. A session without a source language, or for a direction
// that Apertium does not name, fails every translation. Main thread only.
class ApertiumSession : public TranslationSession {
 public:
  ApertiumSession(MainQueue& mainQueue, std::weak_ptr<Directions> directions,
                  std::optional<std::string> source, std::optional<std::string> target)
      : mainQueue_(mainQueue),
        directions_(std::move(directions)),
        source_(std::move(source)),
        target_(std::move(target)) {}

  void translate(std::string text, TranslateCallback done) override {
    const std::shared_ptr<Directions> directions = directions_.lock();
    if (!directions || !source_ || !target_) {
      postResult(mainQueue_, std::move(done), std::nullopt);
      return;
    }
    if (std::shared_ptr<DirectionWorker> worker = directions->workerFor(*source_, *target_)) {
      worker->submit(std::move(text), std::move(done));
      return;
    }
    const std::optional<std::string> package = debianPackageFor(*source_, *target_);
    PackageInstaller* installer = directions->options().installer;
    if (!package || installer == nullptr) {
      postResult(mainQueue_, std::move(done), std::nullopt);
      return;
    }
    installer->install(*package, [&mainQueue = mainQueue_, weak = directions_, source = *source_,
                                  target = *target_, text = std::move(text),
                                  done = std::move(done)](bool installed) mutable {
      const std::shared_ptr<Directions> directions = weak.lock();
      std::shared_ptr<DirectionWorker> worker =
          installed && directions ? directions->workerFor(source, target) : nullptr;
      if (!worker) {
        postResult(mainQueue, std::move(done), std::nullopt);
        return;
      }
      worker->submit(std::move(text), std::move(done));
    });
  }

 private:
  MainQueue& mainQueue_;
  const std::weak_ptr<Directions> directions_;
  const std::optional<std::string> source_;  // ISO 639-3, none when Apertium does not name it
  const std::optional<std::string> target_;
};

// Answers from the mode files present now and the table of Debian's packages. Main thread only.
class ApertiumAvailability : public LanguageAvailability {
 public:
  ApertiumAvailability(MainQueue& mainQueue, std::filesystem::path modesDirectory)
      : mainQueue_(mainQueue), modesDirectory_(std::move(modesDirectory)) {}

  void statusFrom(const Language& from, const Language& to, std::string_view,
                  StatusCallback done) override {
    const AvailabilityStatus status = statusOf(from, to);
    mainQueue_.post([done = std::move(done), status] { done(status); });
  }

  // Apertium cannot tell what language a text is in.
  void statusFor(std::string_view, const Language&, TextStatusCallback done) override {
    mainQueue_.post([done = std::move(done)] { done(std::nullopt); });
  }

 private:
  AvailabilityStatus statusOf(const Language& from, const Language& to) const {
    const std::optional<std::string> source = apertiumLanguage(from);
    const std::optional<std::string> target = apertiumLanguage(to);
    if (!source || !target) return AvailabilityStatus::unsupported;
    if (findMode(modesDirectory_, *source, *target)) return AvailabilityStatus::installed;
    if (debianPackageFor(*source, *target)) return AvailabilityStatus::supported;
    return AvailabilityStatus::unsupported;
  }

  MainQueue& mainQueue_;
  const std::filesystem::path modesDirectory_;
};

// Hands out availability objects and sessions over the shared directions. Main thread only.
class ApertiumService : public TranslationService {
 public:
  ApertiumService(MainQueue& mainQueue, ApertiumOptions options)
      : mainQueue_(mainQueue),
        directions_(std::make_shared<Directions>(mainQueue, std::move(options))) {}

  std::unique_ptr<LanguageAvailability> makeAvailability() override {
    return std::make_unique<ApertiumAvailability>(mainQueue_,
                                                  directions_->options().modesDirectory);
  }

  std::unique_ptr<TranslationSession> makeSession(
      const TranslationConfiguration& configuration) override {
    std::optional<std::string> source;
    if (configuration.source()) source = apertiumLanguage(*configuration.source());
    return std::make_unique<ApertiumSession>(mainQueue_, directions_, std::move(source),
                                             apertiumLanguage(configuration.target()));
  }

 private:
  MainQueue& mainQueue_;
  const std::shared_ptr<Directions> directions_;
};

}  // namespace

std::unique_ptr<TranslationService> makeApertiumService(MainQueue& mainQueue,
                                                        ApertiumOptions options) {
  return std::make_unique<ApertiumService>(mainQueue, std::move(options));
}

}  // namespace talvori
