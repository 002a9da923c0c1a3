#include "platform/recogniser/recogniser.h"

#include <cstdint>
#include <limits>
#include <string>

#include "platform/recogniser/cld2_detector.h"
#include "platform/recogniser/latin_reconciler.h"
#include "platform/recogniser/script_census.h"

namespace talvori {
namespace {

// Scripts decide first: East Asian text is settled by its characters alone. CLD2 names the
// language of other text, from a sample of a long one; short Latin-script text then gets a
// second opinion from our own word evidence.
std::optional<std::string> recognise(std::string_view text) {
  // CLD2 takes lengths as int; a text this long is judged by its first 2 GiB.
  text = text.substr(0, std::numeric_limits<int32_t>::max());
  const ScriptCensus census = takeScriptCensus(text);
  if (!census.hasLetters) return std::nullopt;
  if (std::optional<std::string> language = eastAsianLanguage(text, census)) return language;
  if (std::optional<std::string> language = languageOfOwnLetters(census)) return language;
  std::string sample;
  if (text.size() > kCld2Budget) {
    sample = sampleForCld2(text);
    text = sample;
  }
  std::string cleaned;
  if (census.needsCleaning) {
    cleaned = cleanForCld2(text);
    text = cleaned;
  }
  Cld2Verdict cld2 = askCld2(text, census.strongest);
  if (census.strongest != USCRIPT_LATIN || text.size() > kReconcileMaxBytes) {
    return std::move(cld2.answer);
  }
  return reconcileLatin(text, cld2);
}

class Recogniser : public LanguageRecogniser {
 public:
  void processString(std::string_view text) override { language_ = recognise(text); }
  std::optional<std::string> dominantLanguage() override { return language_; }

 private:
  std::optional<std::string> language_;
};

}  // namespace

std::unique_ptr<LanguageRecogniser> makeRecogniser() { return std::make_unique<Recogniser>(); }

}  // namespace talvori
