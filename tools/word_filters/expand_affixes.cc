// Writes the word forms of a spelling dictionary, one lower-case form a line, sorted and without
// repeats (see affix_expander.h).
//
// Usage: expand_affixes AFF DIC OUT [--keep-capitalised] [--max-add=N] [--one-level]
//                                   [--stems-only] [--min-length=N]
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

#include "tools/word_filters/affix_expander.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr,
                 "usage: expand_affixes AFF DIC OUT [--keep-capitalised] [--max-add=N] "
                 "[--one-level] [--stems-only] [--min-length=N]\n");
    return 2;
  }
  talvori::ExpansionOptions options;
  for (int i = 4; i < argc; ++i) {
    const std::string_view option = argv[i];
    options.keepCapitalised |= option == "--keep-capitalised";
    options.stemsOnly |= option == "--stems-only";
    options.oneLevel |= option == "--one-level";
    if (option.starts_with("--max-add=")) options.maxAdd = std::strtoul(argv[i] + 10, nullptr, 10);
    if (option.starts_with("--min-length=")) {
      options.minLength = std::strtoul(argv[i] + 13, nullptr, 10);
    }
  }
  std::ofstream out(argv[3]);
  for (const std::string& form : talvori::expandDictionary(argv[1], argv[2], options)) {
    out << form << '\n';
  }
  return out ? 0 : 1;
}
