#include "platform/recogniser/cld2_detector.h"

#include <algorithm>
#include <cstdio>  // compact_lang_det.h uses FILE without including its header.
#include <cstring>

#include "cld2/public/compact_lang_det.h"

#include "base/utf8.h"
#include "platform/recogniser/script_census.h"

namespace talvori {
namespace {

constexpr size_t kCld2Windows = 16;

// The BCP 47 code for a CLD2 language; none for CLD2's unknown, script-only ("xx-Latn") and joke
// ("zzb") languages.
std::optional<std::string> bcp47(CLD2::Language language) {
  if (language == CLD2::UNKNOWN_LANGUAGE || language == CLD2::TG_UNKNOWN_LANGUAGE) {
    return std::nullopt;
  }
  const std::string_view code = CLD2::LanguageCode(language);
  if (code.empty() || code == "un" || code == "xxx" || code.starts_with("xx-") ||
      code.starts_with("zz")) {
    return std::nullopt;
  }
  if (code == "zh") return "zh-Hans";
  if (code == "iw") return "he";
  if (code == "jw") return "jv";
  return std::string(code);
}

// Whether CLD2 recognises `language` in the script whose ISO 15924 code is `script`.
bool writtenIn(CLD2::Language language, const char* script) {
  for (int n = 0; n < 4; ++n) {
    if (std::strcmp(CLD2::ULScriptCode(CLD2::LanguageRecognizedScript(language, n)), script) == 0) {
      return true;
    }
  }
  return false;
}

// Moves `pos` forward past UTF-8 continuation bytes and then, if one is near, past the next space,
// so that windows start at a word.
size_t wordStart(std::string_view text, size_t pos) {
  while (pos < text.size() && (static_cast<uint8_t>(text[pos]) & 0xC0) == 0x80) ++pos;
  const size_t space = text.find(' ', pos);
  return space != std::string_view::npos && space - pos < 32 ? space + 1 : pos;
}

}  // namespace

std::string cleanForCld2(std::string_view text) {
  std::string cleaned;
  cleaned.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const size_t begin = i;
    const int32_t c = decodeUtf8(text, i);
    if (c != kIllFormed && isInterchangeable(static_cast<char32_t>(c))) {
      cleaned.append(text.substr(begin, i - begin));
    } else {
      cleaned.push_back(' ');
    }
  }
  return cleaned;
}

std::string sampleForCld2(std::string_view text) {
  if (text.size() <= kCld2Budget) return std::string(text);
  constexpr size_t kWindow = kCld2Budget / kCld2Windows;
  std::string sample;
  sample.reserve(kCld2Budget + kCld2Windows);
  const size_t stride = text.size() / kCld2Windows;
  for (size_t i = 0; i < kCld2Windows; ++i) {
    const size_t begin = wordStart(text, i * stride);
    const size_t end = wordStart(text, std::min(begin + kWindow, text.size()));
    if (begin < end) sample.append(text.substr(begin, end - begin)).push_back('\n');
  }
  return sample;
}

Cld2Verdict askCld2(std::string_view text, UScriptCode script) {
  CLD2::Language languages[3];
  int percents[3];
  double scores[3];
  int textBytes = 0;
  bool reliable = false;
  int validPrefixBytes = 0;
  // Best effort: CLD2 otherwise gives up on short texts such as "Hola mundo", whose answer is
  // right but marked unreliable for want of text.
  const CLD2::Language top = CLD2::ExtDetectLanguageSummaryCheckUTF8(
      text.data(), static_cast<int>(text.size()), /*is_plain_text=*/true, /*cld_hints=*/nullptr,
      CLD2::kCLDFlagBestEffort, languages, percents, scores, /*resultchunkvector=*/nullptr,
      &textBytes, &reliable, &validPrefixBytes);
  Cld2Verdict verdict;
  verdict.answer = bcp47(top);
  const char* scriptCode = uscript_getShortName(script);
  for (CLD2::Language language : languages) {
    if (language != CLD2::UNKNOWN_LANGUAGE && scriptCode != nullptr &&
        writtenIn(language, scriptCode)) {
      verdict.answer = bcp47(language);
      break;
    }
  }
  for (size_t i = 0; i < verdict.proposals.size(); ++i) verdict.proposals[i] = bcp47(languages[i]);
  return verdict;
}

}  // namespace talvori
