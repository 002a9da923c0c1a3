#include "platform/sentences/sentence_service.h"

#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "base/serial_worker.h"
#include "base/utf8.h"
#include "platform/dictionary/dictionary_service.h"
#include "platform/han_script/han_script.h"

namespace talvori {

namespace {

using TranslateCallback = TranslationSession::TranslateCallback;

void postResult(MainQueue& mainQueue, TranslateCallback done, std::optional<std::string> result) {
  mainQueue.post(
      [done = std::move(done), result = std::move(result)]() mutable { done(std::move(result)); });
}

bool sameEngine(const SentenceEngine& a, const SentenceEngine& b) {
  return a.node == b.node && a.loader == b.loader && a.files == b.files;
}

// Translates for one direction: owns the direction's engine process and the worker thread that
// runs it, one text at a time in the order submitted. The process is started by the first text
// that needs it and ended once it has had nothing to do for the options' idle time. Only the
// worker's jobs and hooks touch the process (which dies with the worker thread).
class DirectionWorker {
 public:
  DirectionWorker(MainQueue& mainQueue, const SentenceOptions& options)
      : loadTimeout_(options.loadTimeout),
        timeout_(options.timeout),
        timeoutPerThousandCharacters_(options.timeoutPerThousandCharacters),
        worker_(mainQueue, {.idle = [this] { process_.reset(); },
                            .idleAfter = options.idleEnd,
                            .end = [this] { process_.reset(); }}) {}

  // Lets the translation in progress finish (its deadline bounds it), fails those waiting, and
  // ends the engine process and the thread. Later submissions fail at once.
  void shutDown() { worker_.shutDown(); }

  // Translates `text` with `engine` on the model in `folder`.
  void submit(SentenceEngine engine, std::filesystem::path folder, std::string text,
              TranslateCallback done) {
    worker_.submit([this, job = Job{std::move(engine), std::move(folder),
                                    std::move(text)}] { return translate(job); },
                   std::move(done));
  }

 private:
  struct Job {
    SentenceEngine engine;
    std::filesystem::path folder;
    std::string text;
  };

  std::optional<std::string> translate(const Job& job) {
    if (process_ &&
        (!process_->usable() || job.folder != folder_ || !sameEngine(job.engine, engine_))) {
      process_.reset();
    }
    if (!process_) {
      process_ = EngineProcess::start(job.engine, job.folder,
                                      std::chrono::steady_clock::now() + loadTimeout_);
      if (!process_) return std::nullopt;
      engine_ = job.engine;
      folder_ = job.folder;
    }
    const auto deadline =
        std::chrono::steady_clock::now() + timeout_ +
        timeoutPerThousandCharacters_ * static_cast<long long>(countCodePoints(job.text)) / 1000;
    return process_->translate(job.text, deadline);
  }

  const std::chrono::milliseconds loadTimeout_;
  const std::chrono::milliseconds timeout_;
  const std::chrono::milliseconds timeoutPerThousandCharacters_;

  // Worker thread only.
  std::unique_ptr<EngineProcess> process_;
  SentenceEngine engine_;
  std::filesystem::path folder_;

  SerialWorker worker_;  // last: it ends before what its jobs use
};

// What the service's sessions and availability objects share: the options and the workers of
// the directions in use. Kept apart from the service so that an install answered after the
// service has gone finds it gone. Destroying it ends every engine process. Main thread only.
class Directions {
 public:
  Directions(MainQueue& mainQueue, SentenceOptions options)
      : mainQueue_(mainQueue), options_(std::move(options)) {}

  ~Directions() {
    for (auto& [direction, worker] : workers_) worker->shutDown();
  }

  Directions(const Directions&) = delete;
  Directions& operator=(const Directions&) = delete;

  std::optional<SentenceEngine> engine() const { return options_.engine(); }
  ModelStore* store() const { return options_.store; }

  DirectionWorker& worker(SentenceDirection direction) {
    std::unique_ptr<DirectionWorker>& worker = workers_[direction];
    if (!worker) worker = std::make_unique<DirectionWorker>(mainQueue_, options_);
    return *worker;
  }

 private:
  MainQueue& mainQueue_;
  const SentenceOptions options_;
  std::map<SentenceDirection, std::unique_ptr<DirectionWorker>> workers_;
};

// A light handle on one direction: each translation goes to the direction's worker, after the
// direction's model has been installed when it was missing. Main thread only.
class SentenceSession : public TranslationSession {
 public:
  SentenceSession(MainQueue& mainQueue, std::weak_ptr<Directions> directions,
                  std::optional<SentenceDirection> direction)
      : mainQueue_(mainQueue), directions_(std::move(directions)), direction_(direction) {}

  void translate(std::string text, TranslateCallback done) override {
    const std::shared_ptr<Directions> directions = directions_.lock();
    std::optional<SentenceEngine> engine;
    if (directions && direction_) engine = directions->engine();
    ModelStore* store = directions ? directions->store() : nullptr;
    if (!engine || store == nullptr) {
      postResult(mainQueue_, std::move(done), std::nullopt);
      return;
    }
    const SentenceDirection direction = *direction_;
    if (direction == SentenceDirection::chineseToEnglish()) text = simplifyHan(text);
    if (std::optional<std::filesystem::path> folder = store->installed(direction)) {
      directions->worker(direction).submit(std::move(*engine), std::move(*folder), std::move(text),
                                           std::move(done));
      return;
    }
    if (!store->downloadable(direction)) {
      postResult(mainQueue_, std::move(done), std::nullopt);
      return;
    }
    store->install(direction,
                   [&mainQueue = mainQueue_, weak = directions_, direction,
                    engine = std::move(*engine), text = std::move(text),
                    done = std::move(done)](std::optional<std::filesystem::path> folder) mutable {
                     const std::shared_ptr<Directions> directions = weak.lock();
                     if (!folder || !directions) {
                       postResult(mainQueue, std::move(done), std::nullopt);
                       return;
                     }
                     directions->worker(direction).submit(std::move(engine), std::move(*folder),
                                                          std::move(text), std::move(done));
                   });
  }

 private:
  MainQueue& mainQueue_;
  const std::weak_ptr<Directions> directions_;
  const std::optional<SentenceDirection> direction_;
};

// Answers from the engine's presence and the store. Main thread only.
class SentenceAvailability : public LanguageAvailability {
 public:
  SentenceAvailability(MainQueue& mainQueue, std::weak_ptr<Directions> directions)
      : mainQueue_(mainQueue), directions_(std::move(directions)) {}

  void statusFrom(const Language& from, const Language& to, std::string_view,
                  StatusCallback done) override {
    const AvailabilityStatus status = statusOf(sentenceDirection(from, to));
    mainQueue_.post([done = std::move(done), status] { done(status); });
  }

  // The engine cannot tell what language a text is in.
  void statusFor(std::string_view, const Language&, TextStatusCallback done) override {
    mainQueue_.post([done = std::move(done)] { done(std::nullopt); });
  }

 private:
  AvailabilityStatus statusOf(std::optional<SentenceDirection> direction) const {
    const std::shared_ptr<Directions> directions = directions_.lock();
    ModelStore* store = directions ? directions->store() : nullptr;
    if (!direction || store == nullptr || !directions->engine()) {
      return AvailabilityStatus::unsupported;
    }
    if (store->installed(*direction)) return AvailabilityStatus::installed;
    if (store->downloadable(*direction)) return AvailabilityStatus::supported;
    return AvailabilityStatus::unsupported;
  }

  MainQueue& mainQueue_;
  const std::weak_ptr<Directions> directions_;
};

class SentenceService : public TranslationService {
 public:
  SentenceService(MainQueue& mainQueue, SentenceOptions options)
      : mainQueue_(mainQueue),
        directions_(std::make_shared<Directions>(mainQueue, std::move(options))) {}

  std::unique_ptr<LanguageAvailability> makeAvailability() override {
    return std::make_unique<SentenceAvailability>(mainQueue_, directions_);
  }

  std::unique_ptr<TranslationSession> makeSession(
      const TranslationConfiguration& configuration) override {
    return std::make_unique<SentenceSession>(
        mainQueue_, directions_, sentenceDirection(configuration.source(), configuration.target()));
  }

 private:
  MainQueue& mainQueue_;
  const std::shared_ptr<Directions> directions_;
};

}  // namespace

std::optional<SentenceDirection> sentenceDirection(const std::optional<Language>& from,
                                                   const Language& to) {
  // The dictionary's directions, so that the two engines always serve the same pairs.
  const std::optional<DictionaryDirection> direction = dictionaryDirection(from, to);
  if (!from || !direction) return std::nullopt;
  return *direction == DictionaryDirection::chineseToEnglish
             ? SentenceDirection::chineseToEnglish()
             : SentenceDirection::englishToChinese();
}

std::unique_ptr<TranslationService> makeSentenceService(MainQueue& mainQueue,
                                                        SentenceOptions options) {
  return std::make_unique<SentenceService>(mainQueue, std::move(options));
}

}  // namespace talvori
