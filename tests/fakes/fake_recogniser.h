// A recogniser for tests that answers from a table of text -> language; texts not in the table
// have no language. Counts the recognisers made.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "queue/language_recogniser.h"

namespace talvori::testing {

class FakeRecogniser {
 public:
  void set(std::string text, std::string language) {
    table_[std::move(text)] = std::move(language);
  }
  int made() const { return made_; }

  RecogniserFactory factory() {
    return [this]() -> std::unique_ptr<LanguageRecogniser> {
      ++made_;
      return std::make_unique<Instance>(table_);
    };
  }

 private:
  class Instance : public LanguageRecogniser {
   public:
    explicit Instance(const std::map<std::string, std::string, std::less<>>& table)
        : table_(table) {}
    void processString(std::string_view text) override { text_ = text; }
    std::optional<std::string> dominantLanguage() override {
      auto found = table_.find(text_);
      if (found == table_.end()) return std::nullopt;
      return found->second;
    }

   private:
    const std::map<std::string, std::string, std::less<>>& table_;
    std::string text_;
  };

  std::map<std::string, std::string, std::less<>> table_;
  int made_ = 0;
};

}  // namespace talvori::testing
