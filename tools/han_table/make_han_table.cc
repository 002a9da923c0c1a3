// Writes two tables of Han characters as C++ array initialisers, from ICU's transliterations
// between the two Chinese scripts: make_han_table VARIANTS.inc SIMPLIFICATION.inc
//
// VARIANTS.inc: the characters that exist in one script only. A character that only Hans-Hant
// changes is Simplified-only ("电"), one that only Hant-Hans changes is Traditional-only ("電");
// every other character is shared.
// SIMPLIFICATION.inc: each character that Hant-Hans turns into one other character, with that
// character ("電" to "电"), ordered by the first.
// Made at build time so that the agent needs no transliterator, whose rules take many
// milliseconds to compile, to tell the scripts apart or to write Traditional text in Simplified.
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <vector>

#include <unicode/translit.h>
#include <unicode/unistr.h>

namespace {

bool changes(icu::Transliterator& transliterator, UChar32 c) {
  const icu::UnicodeString original(c);
  icu::UnicodeString text(original);
  transliterator.transliterate(text);
  return text != original;
}

// What `transliterator` makes of `c` alone, when that is one other character.
std::optional<UChar32> replacement(icu::Transliterator& transliterator, UChar32 c) {
  icu::UnicodeString text{c};
  transliterator.transliterate(text);
  if (text.countChar32() != 1 || text.char32At(0) == c) return std::nullopt;
  return text.char32At(0);
}

void writeArray(std::ofstream& out, const char* name, const std::vector<UChar32>& characters) {
  out << "constexpr char32_t " << name << "[] = {";
  for (std::size_t i = 0; i < characters.size(); ++i) {
    out << (i % 12 == 0 ? "\n    " : " ") << "0x" << std::hex << characters[i] << std::dec << ",";
  }
  out << "\n};\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::Transliterator> toSimplified(
      icu::Transliterator::createInstance("Hant-Hans", UTRANS_FORWARD, status));
  std::unique_ptr<icu::Transliterator> toTraditional(
      icu::Transliterator::createInstance("Hans-Hant", UTRANS_FORWARD, status));
  if (U_FAILURE(status)) {
    std::fprintf(stderr, "make_han_table: no transliterators: %s\n", u_errorName(status));
    return 1;
  }
  std::vector<UChar32> simplified, traditional, fromTraditional, toSimplifiedCharacter;
  // From the CJK radicals to the last ideograph block; nothing outside changes.
  for (UChar32 c = 0x2E80; c <= 0x323AF; ++c) {
    const bool simplifies = changes(*toSimplified, c);
    const bool traditionalises = changes(*toTraditional, c);
    if (const auto simple = replacement(*toSimplified, c)) {
      fromTraditional.push_back(c);
      toSimplifiedCharacter.push_back(*simple);
    }
    if (simplifies == traditionalises) continue;
    (traditionalises ? simplified : traditional).push_back(c);
  }
  std::ofstream variants(argv[1]);
  variants << "// Made by tools/han_table from ICU's transliterations; do not edit.\n";
  writeArray(variants, "kSimplifiedOnly", simplified);
  writeArray(variants, "kTraditionalOnly", traditional);
  std::ofstream simplification(argv[2]);
  simplification << "// Made by tools/han_table from ICU's transliterations; do not edit.\n";
  writeArray(simplification, "kFromTraditional", fromTraditional);
  writeArray(simplification, "kToSimplified", toSimplifiedCharacter);
  return variants && simplification ? 0 : 1;
}
