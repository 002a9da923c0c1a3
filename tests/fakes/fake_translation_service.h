// A translation service for tests. Availability queries and translations wait until the test
// answers them (answerStatus, answerTranslation), and the answer then arrives through the main
// queue, as the real service delivers it. Records every question asked.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/main_queue.h"
#include "queue/translation_service.h"

namespace talvori::testing {

class FakeTranslationService : public TranslationService {
 public:
  explicit FakeTranslationService(MainQueue& mainQueue) : mainQueue_(mainQueue) {}

  // "from es to en", or "for <text> to en" for a query about an unrecognised text.
  std::vector<std::string> queries;
  // The texts given to translate, in order, as the sessions received them.
  std::vector<std::string> translations;
  // Where the text of the last query about a text lay.
  const char* queriedText = nullptr;
  int sessionsMade = 0;
  int sessionsAlive = 0;

  std::size_t pendingStatus() const { return statusAnswers_.size(); }
  std::size_t pendingTranslations() const { return translationAnswers_.size(); }

  // Answers the oldest outstanding availability query; none fails a query about a text.
  void answerStatus(std::optional<AvailabilityStatus> status) {
    auto answer = std::move(statusAnswers_.front());
    statusAnswers_.pop_front();
    mainQueue_.post([answer = std::move(answer), status] { answer(status); });
  }

  // Answers the oldest outstanding translation; none fails it.
  void answerTranslation(std::optional<std::string> text) {
    auto answer = std::move(translationAnswers_.front());
    translationAnswers_.pop_front();
    mainQueue_.post([answer = std::move(answer), text = std::move(text)] { answer(text); });
  }

  std::unique_ptr<LanguageAvailability> makeAvailability() override {
    return std::make_unique<Availability>(*this);
  }

  std::unique_ptr<TranslationSession> makeSession(const TranslationConfiguration&) override {
    ++sessionsMade;
    return std::make_unique<Session>(*this);
  }

 private:
  class Availability : public LanguageAvailability {
   public:
    explicit Availability(FakeTranslationService& service) : service_(service) {}
    void statusFrom(const Language& from, const Language& to, StatusCallback done) override {
      service_.queries.push_back("from " + from.code() + " to " + to.code());
      service_.statusAnswers_.push_back([done = std::move(done)](auto status) {
        done(status.value_or(AvailabilityStatus::unsupported));
      });
    }
    void statusFor(std::string_view text, const Language& to, TextStatusCallback done) override {
      service_.queries.push_back("for " + std::string(text) + " to " + to.code());
      service_.queriedText = text.data();
      service_.statusAnswers_.push_back(std::move(done));
    }

   private:
    FakeTranslationService& service_;
  };

  class Session : public TranslationSession {
   public:
    explicit Session(FakeTranslationService& service) : service_(service) {
      ++service_.sessionsAlive;
    }
    ~Session() override { --service_.sessionsAlive; }
    void translate(std::string text, TranslateCallback done) override {
      service_.translations.push_back(std::move(text));
      service_.translationAnswers_.push_back(std::move(done));
    }

   private:
    FakeTranslationService& service_;
  };

  MainQueue& mainQueue_;
  std::deque<std::function<void(std::optional<AvailabilityStatus>)>> statusAnswers_;
  std::deque<std::function<void(std::optional<std::string>)>> translationAnswers_;
};

}  // namespace talvori::testing
