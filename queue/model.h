// Model: the translation queue's state and its operations.
//
// Main thread only, no locks. Admitted requests wait in `requests` (first in, first out) while at
// most one is `current`; every request that becomes current is answered by exactly one reply.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/reply.h"
#include "protocol/reply_sink.h"
#include "protocol/request.h"
#include "queue/language_recogniser.h"
#include "queue/translation_service.h"

namespace talvori {

class MainQueue;
class Panel;

inline constexpr std::string_view kInitialStatus = "首次使用需要下载语言包。翻译在这台电脑上完成。";
inline constexpr std::string_view kInvalidRequestError = "文字为空、过长或语言设置无效。";
inline constexpr std::string_view kQueueFullError = "翻译队列已满，请稍后重试。";
inline constexpr std::string_view kUnsupportedError = "系统不支持这组语言，或无法识别这段文字。";
inline constexpr std::string_view kTranslationFailedError =
    "本地翻译未完成。请重试并允许系统下载语言包。";

inline constexpr std::size_t kMaxTextCharacters = 10000;
inline constexpr std::size_t kMaxIdCharacters = 99;
inline constexpr std::size_t kMaxWaitingRequests = 32;

class Model {
 public:
  // The services the model calls. They outlive the model; the recogniser factory is called once
  // per dispatched request. Replies go to `replies`.
  struct Dependencies {
    RecogniserFactory recogniser;
    TranslationService& translation;
    MainQueue& mainQueue;
    ReplySink& replies;
  };

  explicit Model(Dependencies dependencies);
  Model(const Model&) = delete;
  Model& operator=(const Model&) = delete;

  // Published fields: every change fires the will-change observers first, then stores the value.
  const std::optional<TranslationConfiguration>& configuration() const { return configuration_; }
  const std::string& status() const { return status_; }

  // Registers an observer of the published fields. It runs before each change is stored, so it
  // must re-read the model later (for example from a job posted to the main queue).
  void onWillChange(std::function<void()> observer);

  const std::deque<Request>& requests() const { return requests_; }
  const std::optional<Request>& current() const { return current_; }

  // The helper panel, set once at start-up; it outlives the model.
  Panel* window = nullptr;

  // Admits `request` or answers it at once with an error reply.
  void enqueue(Request request);

  // Takes the oldest waiting request when none is current and starts answering it.
  void next();

  // Translates the current request with `session` and answers it; `finished` runs once the reply
  // has been written (at once when nothing is current). The session must live until then.
  void perform(TranslationSession& session, std::function<void()> finished);

  // Writes `reply`, clears `current`, makes the panel transparent and schedules `next`.
  void finish(const Reply& reply);

  // Writes `reply` as one line.
  void reply(const Reply& reply);

 private:
  void checkAvailability(std::optional<Language> source, Language target, Request request);
  void usePair(AvailabilityStatus status, std::optional<Language> source, Language target,
               const Request& request);
  void publishWillChange();

  RecogniserFactory recogniser_;
  TranslationService& translation_;
  MainQueue& mainQueue_;
  ReplySink& replies_;
  std::vector<std::function<void()>> willChange_;

  std::optional<TranslationConfiguration> configuration_;
  std::string status_{kInitialStatus};
  std::deque<Request> requests_;
  std::optional<Request> current_;
};

}  // namespace talvori
