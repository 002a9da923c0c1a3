#include "platform/apertium/apertium_pairs.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <system_error>
#include <utility>
#include <vector>

#include "queue/language.h"

namespace talvori {

namespace {

struct CodePair {
  std::string_view shortCode;  // ISO 639-1, or a BCP 47 language subtag
  std::string_view apertium;   // ISO 639-3 as Apertium spells it
};

// Languages of the Apertium pairs Debian carries, plus a few that only appear as their other
// side. Serbian, Croatian and Bosnian share Apertium's Serbo-Croatian data.
constexpr std::array kCodes{
    CodePair{"af", "afr"}, CodePair{"an", "arg"}, CodePair{"be", "bel"}, CodePair{"bg", "bul"},
    CodePair{"br", "bre"}, CodePair{"bs", "hbs"}, CodePair{"ca", "cat"}, CodePair{"da", "dan"},
    CodePair{"de", "deu"}, CodePair{"en", "eng"}, CodePair{"eo", "epo"}, CodePair{"es", "spa"},
    CodePair{"eu", "eus"}, CodePair{"fr", "fra"}, CodePair{"gl", "glg"}, CodePair{"hi", "hin"},
    CodePair{"hr", "hbs"}, CodePair{"id", "ind"}, CodePair{"is", "isl"}, CodePair{"it", "ita"},
    CodePair{"ja", "jpn"}, CodePair{"mk", "mkd"}, CodePair{"ms", "zlm"}, CodePair{"nb", "nob"},
    CodePair{"nl", "nld"}, CodePair{"nn", "nno"}, CodePair{"no", "nor"}, CodePair{"oc", "oci"},
    CodePair{"pl", "pol"}, CodePair{"pt", "por"}, CodePair{"ro", "ron"}, CodePair{"ru", "rus"},
    CodePair{"sc", "srd"}, CodePair{"sh", "hbs"}, CodePair{"sl", "slv"}, CodePair{"sr", "hbs"},
    CodePair{"sv", "swe"}, CodePair{"uk", "ukr"}, CodePair{"ur", "urd"}, CodePair{"zh", "zho"},
};

struct Direction {
  std::string_view from;
  std::string_view to;
  std::string_view package;
};

// Directions into and out of English that Debian 12 ships, with the package carrying each.
constexpr std::array kDebianDirections{
    Direction{"spa", "eng", "apertium-eng-spa"}, Direction{"eng", "spa", "apertium-eng-spa"},
    Direction{"cat", "eng", "apertium-eng-cat"}, Direction{"eng", "cat", "apertium-eng-cat"},
    Direction{"glg", "eng", "apertium-en-gl"},   Direction{"eng", "glg", "apertium-en-gl"},
    Direction{"epo", "eng", "apertium-eo-en"},   Direction{"eng", "epo", "apertium-eo-en"},
    Direction{"eus", "eng", "apertium-eu-en"},   Direction{"hbs", "eng", "apertium-hbs-eng"},
    Direction{"eng", "hbs", "apertium-hbs-eng"}, Direction{"isl", "eng", "apertium-isl-eng"},
    Direction{"mkd", "eng", "apertium-mkd-eng"},
};

bool allLetters(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; });
}

// The language on one side of a mode name ("spa", "eng_US", "en"), without its variant.
std::optional<std::string> modeSideLanguage(std::string_view side) {
  const std::size_t variant = side.find('_');
  if (variant != std::string_view::npos) side = side.substr(0, variant);
  if (side.empty()) return std::nullopt;
  return apertiumLanguage(side);
}

}  // namespace

std::optional<std::string> apertiumLanguage(std::string_view code) {
  return apertiumLanguage(Language(code));
}

std::optional<std::string> apertiumLanguage(const Language& language) {
  const std::string_view primary = language.primary();
  if (!allLetters(primary)) return std::nullopt;
  if (primary.size() == 2) {
    for (const CodePair& pair : kCodes) {
      if (pair.shortCode == primary) return std::string(pair.apertium);
    }
    return std::nullopt;
  }
  // A three-letter subtag already is the ISO 639-3 code, except for languages whose
  // bibliographic or individual codes differ from the ones Apertium uses.
  if (primary == "srp" || primary == "hrv" || primary == "bos") return std::string("hbs");
  if (primary == "chi" || primary == "cmn") return std::string("zho");
  if (primary.size() == 3) return std::string(primary);
  return std::nullopt;
}

std::optional<std::string> debianPackageFor(std::string_view from, std::string_view to) {
  for (const Direction& direction : kDebianDirections) {
    if (direction.from == from && direction.to == to) return std::string(direction.package);
  }
  return std::nullopt;
}

std::optional<std::filesystem::path> findMode(const std::filesystem::path& modesDirectory,
                                              std::string_view from, std::string_view to) {
  std::error_code error;
  std::filesystem::directory_iterator entries(modesDirectory, error);
  if (error) return std::nullopt;
  std::optional<std::filesystem::path> plain;
  std::vector<std::filesystem::path> variants;
  for (const auto& entry : entries) {
    const std::filesystem::path& path = entry.path();
    if (path.extension() != ".mode") continue;
    const std::string name = path.stem().string();
    // A translation mode is "<from>-<to>"; names with more pieces are debugging stages.
    const std::size_t dash = name.find('-');
    if (dash == std::string::npos || name.find('-', dash + 1) != std::string::npos) continue;
    const std::string_view source = std::string_view(name).substr(0, dash);
    const std::string_view target = std::string_view(name).substr(dash + 1);
    if (modeSideLanguage(source) != from || modeSideLanguage(target) != to) continue;
    if (!entry.is_regular_file(error)) continue;
    if (name.find('_') == std::string::npos) {
      if (!plain || path < *plain) plain = path;
    } else {
      variants.push_back(path);
    }
  }
  if (plain) return plain;
  if (variants.empty()) return std::nullopt;
  return *std::min_element(variants.begin(), variants.end());
}

}  // namespace talvori
