// TranslationConfiguration: the language pair that the status view watches.
#pragma once

#include <cstdint>
#include <optional>

#include "queue/language.h"

namespace talvori {

// A source language (none when the text's language was not recognised) and a target language.
// Each value has an identity of its own, and invalidate() gives it a fresh one, so that a watcher
// treats it as new and starts another session for it. Main thread only.
class TranslationConfiguration {
 public:
  TranslationConfiguration(std::optional<Language> source, Language target);

  const std::optional<Language>& source() const { return source_; }
  const Language& target() const { return target_; }
  std::uint64_t identity() const { return identity_; }

  void invalidate();

 private:
  std::optional<Language> source_;
  Language target_;
  std::uint64_t identity_;
};

}  // namespace talvori
