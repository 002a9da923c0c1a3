// Model: the translation queue's state and its operations.
//
// Main thread only, no locks. Admitted requests wait in `requests` (first in, first out) while at
// most one is `current`; every request that becomes current is answered by exactly one reply.
//
// The road of one request: step 1 runs on the reader's thread, every other step on the main
// thread, each in the main-queue turn (a job run from the main queue) given:
//
//   1. The request reader decodes a line into a Request (reader thread) and posts a hand-over
//      job. Turn A: the job, on the main thread.
//   2. enqueue (turn A) admits the request or answers it at once with an error; an admitted
//      request is appended, and enqueue calls next when none is current.
//   3. next (turn A, or turn E of the request before) makes the oldest request current, has the
//      recogniser name its language and resolves the target. A text already in the target
//      language (and in its script, when the target names one) is answered at once through
//      finish; otherwise the availability check is posted.
//   4. The availability check (turn B, a later turn than next's) asks the translation service
//      about the pair. Its answer comes in a later job (turn C): an unsupported pair is answered
//      through finish; for a usable one the panel is set and `configuration` is published.
//   5. The translation hook sees the change at once (turn C) and makes a session for the
//      configuration.
//   6. perform (turn C) hands the text to the session. Its answer comes in a later job (turn D).
//   7. finish (turn D, or where 3 or 4 answered) writes the reply, clears `current`, makes the
//      panel transparent and posts next (turn E), which takes the following request.
//
// So a translated request is answered in its fourth turn, and one the shortcut answers in the
// turn it arrived. Three things keep the turns apart: the check starts after next has returned,
// finish posts next instead of calling it (a run of shortcuts never nests), and the services answer
// in a job of their own, never inside the call that asked. The text travels without copies: it
// moves from the reader's job into `requests` and `current`, the services read it where it lies,
// and perform moves it into the session.
#pragma once

#include <cstddef>
#include <cstdint>
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

  // Published fields: every change is stored, then the observers are called.
  const std::optional<TranslationConfiguration>& configuration() const { return configuration_; }
  const std::string& status() const { return status_; }

  // Registers an observer of the published fields, called after each change with the new value
  // in place. It may call perform.
  void onChange(std::function<void()> observer);

  const std::deque<Request>& requests() const { return requests_; }
  // The request being answered. While its translation runs its text has gone to the session.
  const std::optional<Request>& current() const { return current_; }

  // The helper panel, set once at start-up; it outlives the model.
  Panel* window = nullptr;

  // Admits `request` or answers it at once with an error reply.
  void enqueue(Request request);

  // Takes the oldest waiting request when none is current and starts answering it.
  void next();

  // Translates the current request with `session` and answers it; `finished` runs once the reply
  // has been written (at once when nothing is current, or when the current request's text has
  // already gone to a session). The session must live until then.
  void perform(TranslationSession& session, std::function<void()> finished);

  // Writes `reply`, clears `current`, makes the panel transparent and schedules `next`.
  void finish(const Reply& reply);

  // Writes `reply` as one line.
  void reply(const Reply& reply);

 private:
  void checkAvailability(std::uint64_t serial, std::optional<Language> source, Language target);
  void usePair(std::uint64_t serial, AvailabilityStatus status, std::optional<Language> source,
               Language target);
  // Whether `serial` names the request that is current: answers meant for another are dropped.
  bool isCurrent(std::uint64_t serial) const { return current_ && serial == serial_; }
  void publishChange();

  RecogniserFactory recogniser_;
  TranslationService& translation_;
  MainQueue& mainQueue_;
  ReplySink& replies_;
  std::vector<std::function<void()>> observers_;

  std::optional<TranslationConfiguration> configuration_;
  std::string status_{kInitialStatus};
  std::deque<Request> requests_;
  std::optional<Request> current_;
  std::uint64_t serial_ = 0;  // counts the requests that became current
  bool translating_ = false;  // the current request's text has gone to a session
};

}  // namespace talvori
