// TranslationSession: translates texts for one configuration's language pair.
//
// A light handle, used on the main thread only while the status view's action runs, and
// destroyed afterwards, after its last answer has arrived. Answers are delivered later on the
// main thread, exactly once each, never from inside the call. A failure is a value (none).
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace talvori {

class TranslationSession {
 public:
  using TranslateCallback = std::function<void(std::optional<std::string>)>;

  virtual ~TranslationSession() = default;

  // Translates `text` (UTF-8, untrimmed). `done` receives the translated text, possibly empty,
  // or none when the translation failed for any reason.
  virtual void translate(std::string text, TranslateCallback done) = 0;
};

}  // namespace talvori
