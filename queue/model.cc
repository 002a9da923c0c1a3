#include "queue/model.h"

#include <array>
#include <utility>

#include "base/main_queue.h"
#include "queue/panel.h"
#include "queue/text_measure.h"

namespace talvori {

namespace {

constexpr std::array<std::string_view, 3> kAllowedTargets = {"auto", "en", "zh-Hans"};

bool isAllowedTarget(std::string_view target) {
  for (std::string_view allowed : kAllowedTargets) {
    if (target == allowed) return true;
  }
  return false;
}

// "auto" becomes English for Chinese text and Simplified Chinese for everything else, unknown
// text included; other targets stand as given.
std::string resolveTarget(const std::string& target, const std::optional<std::string>& detected) {
  if (target != "auto") return target;
  return detected && primarySubtag(*detected) == "zh" ? "en" : "zh-Hans";
}

}  // namespace

Model::Model(Dependencies dependencies)
    : recogniser_(std::move(dependencies.recogniser)),
      translation_(dependencies.translation),
      mainQueue_(dependencies.mainQueue),
      replies_(dependencies.replies) {}

void Model::onWillChange(std::function<void()> observer) {
  willChange_.push_back(std::move(observer));
}

void Model::publishWillChange() {
  for (const auto& observer : willChange_) observer();
}

void Model::enqueue(Request request) {
  // Validity comes before capacity, so an invalid request is called invalid even when the queue
  // is full. Lengths count grapheme clusters of the untrimmed text.
  if (isBlank(request.text) ||
      countCharacters(request.text, kMaxTextCharacters) > kMaxTextCharacters ||
      !isAllowedTarget(request.target) ||
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
  Request& request = *current_;

  std::optional<std::string> detected;
  {
    auto recogniser = recogniser_();
    recogniser->processString(request.text);
    detected = recogniser->dominantLanguage();
  }
  std::string resolved = resolveTarget(request.target, detected);

  // Same primary subtag: the text already is in the target language and answers itself.
  const std::string_view detectedPrimary = detected ? primarySubtag(*detected) : "";
  if (!detectedPrimary.empty() && detectedPrimary == primarySubtag(resolved)) {
    finish(Reply::success(std::move(request.id), std::move(request.text)));
    return;
  }
  // The check starts in a later turn of the main queue, after this call has returned.
  mainQueue_.post([this, detected = std::move(detected), resolved = std::move(resolved),
                   request = request]() mutable {
    checkAvailability(std::move(detected), std::move(resolved), std::move(request));
  });
}

void Model::checkAvailability(std::optional<std::string> detected, std::string resolvedTarget,
                              Request request) {
  std::optional<Language> source;
  if (detected) source.emplace(*detected);
  Language target(resolvedTarget);
  auto availability = translation_.makeAvailability();
  if (source) {
    availability->statusFrom(
        *source, target,
        [this, source, target, request = std::move(request)](AvailabilityStatus status) {
          usePair(status, source, target, request);
        });
  } else {
    // A failed query about the text counts as an unsupported pair.
    std::string text = request.text;
    availability->statusFor(
        std::move(text), target,
        [this, target, request = std::move(request)](std::optional<AvailabilityStatus> status) {
          usePair(status.value_or(AvailabilityStatus::unsupported), std::nullopt, target, request);
        });
  }
}

void Model::usePair(AvailabilityStatus status, std::optional<Language> source, Language target,
                    const Request& request) {
  if (status == AvailabilityStatus::unsupported) {
    finish(Reply::failure(request.id, kUnsupportedError));
    return;
  }
  // The panel shows itself only while the pair still lacks its language data.
  if (window != nullptr) {
    window->setAlphaValue(status == AvailabilityStatus::installed ? 0.0 : 1.0);
    window->orderFrontRegardless();
  }
  const bool samePair =
      configuration_ && configuration_->source() == source && configuration_->target() == target;
  publishWillChange();
  if (samePair) {
    configuration_->invalidate();
  } else {
    configuration_.emplace(std::move(source), std::move(target));
  }
}

void Model::perform(TranslationSession& session, std::function<void()> finished) {
  if (!current_) {
    finished();
    return;
  }
  Request request = *current_;
  session.translate(std::move(request.text),
                    [this, id = std::move(request.id),
                     finished = std::move(finished)](std::optional<std::string> text) mutable {
                      if (text) {
                        finish(Reply::success(std::move(id), std::move(*text)));
                      } else {
                        finish(Reply::failure(std::move(id), kTranslationFailedError));
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
