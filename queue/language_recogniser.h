// The language recogniser names the dominant language of a text.
//
// A recogniser serves one text: the queue makes a new one for each dispatched request, gives it
// the text with processString and reads dominantLanguage once. It never fails: a text it cannot
// place gives no language. Main thread only.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace talvori {

class LanguageRecogniser {
 public:
  virtual ~LanguageRecogniser() = default;

  // Takes the text to examine (UTF-8, as queued: untrimmed).
  virtual void processString(std::string_view text) = 0;

  // The BCP 47 identifier of the dominant language of the text given ("en", "zh-Hans",
  // "zh-Hant", ...), or none when no language can be named.
  virtual std::optional<std::string> dominantLanguage() = 0;
};

// Makes a fresh recogniser; called on the main thread once per dispatched request.
using RecogniserFactory = std::function<std::unique_ptr<LanguageRecogniser>()>;

}  // namespace talvori
