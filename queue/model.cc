#include "queue/model.h"

#include <utility>

#include "base/main_queue.h"
#include "queue/panel.h"
#include "queue/text_measure.h"

namespace talvori {

namespace {

// "auto" becomes English for Chinese text and Simplified Chinese for everything else, unknown
// text included.
Language resolvedTarget(Target target, const std::optional<Language>& detected) {
  if (target == Target::english) return Language("en");
  if (target == Target::simplifiedChinese) return Language("zh-Hans");
  return Language(detected && detected->primaryAsWritten() == "zh" ? "en" : "zh-Hans");
}

}  // namespace

Model::Model(Dependencies dependencies)
    : recogniser_(std::move(dependencies.recogniser)),
      translation_(dependencies.translation),
      mainQueue_(dependencies.mainQueue),
      replies_(dependencies.replies) {}

void Model::onChange(std::function<void()> observer) { observers_.push_back(std::move(observer)); }

void Model::publishChange() {
  for (const auto& observer : observers_) observer();
}

void Model::enqueue(Request request) {
  // Validity comes before capacity, so an invalid request is called invalid even when the queue
  // is full. Lengths count grapheme clusters of the untrimmed text.
  if (isBlank(request.text) ||
      countCharacters(request.text, kMaxTextCharacters) > kMaxTextCharacters ||
      request.target == Target::unsupported ||
      countCharacters(request.id, kMaxIdCharacters) > kMaxIdCharacters) {
    reply(Reply::failure(std::move(request.id), kInvalidRequestError));
    return;
  }
  if (requests_.size() >= kMaxWaitingRequests) {
    reply(Reply::failure(std::move(request.id), kQueueFullError));
    return;
  }
  requests_.push_back(std::move(request));
  if (!current_) next();
}

void Model::next() {
  if (current_ || requests_.empty()) return;
  current_ = std::move(requests_.front());
  requests_.pop_front();
  ++serial_;
  translating_ = false;
  Request& request = *current_;

  std::optional<Language> detected;
  {
    auto recogniser = recogniser_();
    recogniser->processString(request.text);
    if (std::optional<std::string> code = recogniser->dominantLanguage()) detected.emplace(*code);
  }
  Language target = resolvedTarget(request.target, detected);

  // Same primary subtag, as the recogniser wrote it: the text already is in the target language
  // and answers itself, unless the target names a script the text is not written in (Traditional
  // Chinese asked for in Simplified), which the service converts.
  if (detected && !detected->primaryAsWritten().empty() &&
      detected->primaryAsWritten() == target.primaryAsWritten() &&
      (detected->script().empty() || target.script().empty() ||
       detected->script() == target.script())) {
    finish(Reply::success(std::move(request.id), std::move(request.text)));
    return;
  }
  // The check starts in a later turn of the main queue, after this call has returned.
  mainQueue_.post(
      [this, serial = serial_, source = std::move(detected), target = std::move(target)]() mutable {
        checkAvailability(serial, std::move(source), std::move(target));
      });
}

void Model::checkAvailability(std::uint64_t serial, std::optional<Language> source,
                              Language target) {
  // Only the check and perform's answer end the current request, so it is still this one.
  if (!isCurrent(serial)) return;
  auto availability = translation_.makeAvailability();
  if (source) {
    availability->statusFrom(*source, target,
                             [this, serial, source, target](AvailabilityStatus status) mutable {
                               usePair(serial, status, std::move(source), std::move(target));
                             });
  } else {
    // A failed query about the text counts as an unsupported pair.
    availability->statusFor(
        current_->text, target,
        [this, serial, target](std::optional<AvailabilityStatus> status) mutable {
          usePair(serial, status.value_or(AvailabilityStatus::unsupported), std::nullopt,
                  std::move(target));
        });
  }
}

void Model::usePair(std::uint64_t serial, AvailabilityStatus status, std::optional<Language> source,
                    Language target) {
  if (!isCurrent(serial)) return;
  if (status == AvailabilityStatus::unsupported) {
    finish(Reply::failure(std::move(current_->id), kUnsupportedError));
    return;
  }
  // The panel shows itself only while the pair still lacks its language data.
  if (window != nullptr) {
    window->setAlphaValue(status == AvailabilityStatus::installed ? 0.0 : 1.0);
    window->orderFrontRegardless();
  }
  if (configuration_ && configuration_->source() == source && configuration_->target() == target) {
    configuration_->invalidate();
  } else {
    configuration_.emplace(std::move(source), std::move(target));
  }
  // Last: the translation hook may start perform from here.
  publishChange();
}

void Model::perform(TranslationSession& session, std::function<void()> finished) {
  if (!current_ || translating_) {
    finished();
    return;
  }
  translating_ = true;
  // The session takes the text; only the id is read again, for the reply.
  session.translate(
      std::move(current_->text), [this, serial = serial_, finished = std::move(finished)](
                                     std::optional<std::string> text) mutable {
        if (isCurrent(serial)) {
          finish(text ? Reply::success(std::move(current_->id), std::move(*text))
                      : Reply::failure(std::move(current_->id), kTranslationFailedError));
        }
        finished();
      });
}

void Model::finish(const Reply& answer) {
  reply(answer);
  current_.reset();
  if (window != nullptr) window->setAlphaValue(0.0);
  mainQueue_.post([this] { next(); });
}

void Model::reply(const Reply& answer) { replies_.write(answer); }

}  // namespace talvori
