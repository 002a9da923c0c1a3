#include "queue/translation_configuration.h"

#include <utility>

namespace talvori {

namespace {

// Identities are handed out on the main thread only, so a plain counter suffices.
std::uint64_t freshIdentity() {
  static std::uint64_t last = 0;
  return ++last;
}

}  // namespace

TranslationConfiguration::TranslationConfiguration(std::optional<Language> source, Language target)
    : source_(std::move(source)), target_(std::move(target)), identity_(freshIdentity()) {}

void TranslationConfiguration::invalidate() { identity_ = freshIdentity(); }

}  // namespace talvori
