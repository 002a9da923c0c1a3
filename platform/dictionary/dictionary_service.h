// The translation service on the Chinese-English dictionary: words, names and set phrases,
// Simplified or Traditional Chinese to English and English to Simplified Chinese.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "base/main_queue.h"
#include "queue/language.h"
#include "queue/translation_service.h"

namespace talvori {

// The index file's name in the agent's data folder (`share/talvori/`).
inline constexpr std::string_view kDictionaryIndexName = "chinese-english.index";

enum class DictionaryDirection { chineseToEnglish, englishToChinese };

// The direction in which the dictionary translates from `from` into `to`: Chinese (Simplified,
// Traditional or unmarked) into English, or English into Simplified Chinese. A text of unknown
// language (`from` none) goes by the target alone. None for every other pair.
std::optional<DictionaryDirection> dictionaryDirection(const std::optional<Language>& from,
                                                       const Language& to);

// The places the index may be, in order: the data folder beside the executable (the build
// tree), the installation's data folder (`<prefix>/share/talvori` for `<prefix>/bin/talvori`),
// then `talvori/` in the XDG data directories: `xdgDataHome` (else `home`/.local/share) and each
// of `xdgDataDirs` (else /usr/local/share and /usr/share). Unset or relative directories are
// skipped, as XDG asks.
std::vector<std::filesystem::path> dictionaryIndexPaths(const std::filesystem::path& executable,
                                                        const char* xdgDataHome, const char* home,
                                                        const char* xdgDataDirs);

// The same for this process: its executable and environment.
std::vector<std::filesystem::path> dictionaryIndexPaths();

// A translation service answering from the first index in `indexPaths` that opens. The index is
// opened on first use, not here; while none opens, every pair is unsupported and each later use
// tries again. Availability for a text of unknown language is installed when the text is a
// headword (into English) or a gloss (into Chinese) with an answer, and none otherwise. A text
// without a Han character is never looked up as Chinese. A text without a sure answer fails to
// translate.
//
// Main thread only; answers are posted to `mainQueue`, which must outlive the service and
// everything it makes. Sessions and availability objects may outlive the service.
std::unique_ptr<TranslationService> makeDictionaryService(
    MainQueue& mainQueue, std::vector<std::filesystem::path> indexPaths);

}  // namespace talvori
