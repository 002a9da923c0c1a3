// The word filters that tools/word_filters/make_word_filters.cc built, included in the binary's
// read-only data.
#include <string_view>

// TALVORI_WORD_FILTERS is the path of the built file (tools/word_filters/CMakeLists.txt).
asm(".section .rodata\n"
    ".balign 64\n"
    ".globl talvori_word_filters_begin\n"
    ".hidden talvori_word_filters_begin\n"
    "talvori_word_filters_begin:\n"
    ".incbin \"" TALVORI_WORD_FILTERS
    "\"\n"
    ".globl talvori_word_filters_end\n"
    ".hidden talvori_word_filters_end\n"
    "talvori_word_filters_end:\n"
    ".previous\n");

extern "C" const char talvori_word_filters_begin[];
extern "C" const char talvori_word_filters_end[];

namespace talvori {

std::string_view wordFilterData() {
  return {talvori_word_filters_begin,
          static_cast<size_t>(talvori_word_filters_end - talvori_word_filters_begin)};
}

}  // namespace talvori
