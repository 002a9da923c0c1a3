// Writes the table of Han characters that exist in one Chinese script only, as C++ array
// initialisers: make_han_table OUTPUT.inc
//
// A character that only ICU's Hans-Hant transliteration changes is Simplified-only ("电"), one
// that only Hant-Hans changes is Traditional-only ("電"); every other character is shared. Made
// at build time so that the agent needs no transliterator, whose rules take many milliseconds to
// compile, to tell the scripts apart.
#include <cstdio>
#include <fstream>
#include <memory>
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

void writeArray(std::ofstream& out, const char* name, const std::vector<UChar32>& characters) {
  out << "constexpr char32_t " << name << "[] = {";
  for (std::size_t i = 0; i < characters.size(); ++i) {
    out << (i % 12 == 0 ? "\n    " : " ") << "0x" << std::hex << characters[i] << std::dec << ",";
  }
  out << "\n};\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::Transliterator> toSimplified(
      icu::Transliterator::createInstance("Hant-Hans", UTRANS_FORWARD, status));
  std::unique_ptr<icu::Transliterator> toTraditional(
      icu::Transliterator::createInstance("Hans-Hant", UTRANS_FORWARD, status));
  if (U_FAILURE(status)) {
    std::fprintf(stderr, "han_variants: no transliterators: %s\n", u_errorName(status));
    return 1;
  }
  std::vector<UChar32> simplified, traditional;
  // From the CJK radicals to the last ideograph block; nothing outside changes.
  for (UChar32 c = 0x2E80; c <= 0x323AF; ++c) {
    const bool simplifies = changes(*toSimplified, c);
    const bool traditionalises = changes(*toTraditional, c);
    if (simplifies == traditionalises) continue;
    (traditionalises ? simplified : traditional).push_back(c);
  }
  std::ofstream out(argv[1]);
  out << "// Made by tools/han_variants from ICU's transliterations; do not edit.\n";
  writeArray(out, "kSimplifiedOnly", simplified);
  writeArray(out, "kTraditionalOnly", traditional);
  return out ? 0 : 1;
}
