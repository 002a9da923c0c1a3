#include "platform/recogniser/han_variants.h"

#include <algorithm>
#include <iterator>

namespace talvori {

namespace {
#include "han_variants.inc"
}  // namespace

HanVariant hanVariant(char32_t c) {
  if (std::binary_search(std::begin(kSimplifiedOnly), std::end(kSimplifiedOnly), c)) {
    return HanVariant::simplified;
  }
  if (std::binary_search(std::begin(kTraditionalOnly), std::end(kTraditionalOnly), c)) {
    return HanVariant::traditional;
  }
  return HanVariant::shared;
}

}  // namespace talvori
