#include "platform/han_script/han_script.h"

#include <algorithm>
#include <cstddef>
#include <iterator>

#include "base/utf8.h"

namespace talvori {

namespace {

#include "han_simplification.inc"

static_assert(std::size(kFromTraditional) == std::size(kToSimplified));

}  // namespace

std::string simplifyHan(std::string_view text) {
  std::string simplified;
  simplified.reserve(text.size());
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t start = at;
    const std::int32_t c = decodeUtf8(text, at);
    const auto found =
        std::lower_bound(std::begin(kFromTraditional), std::end(kFromTraditional), c);
    if (c != kIllFormed && found != std::end(kFromTraditional) &&
        *found == static_cast<char32_t>(c)) {
      appendUtf8(kToSimplified[found - std::begin(kFromTraditional)], simplified);
    } else {
      simplified.append(text, start, at - start);
    }
  }
  return simplified;
}

}  // namespace talvori
