// Builds the recogniser's word filters (platform/recogniser/word_filter.h) from word lists, one
// word a line.
//
// Usage: make_word_filters OUT LANGUAGE:BITS:LIST[,LIST...] ...
//
// Each language gets one filter of about BITS bits per distinct word of its lists (lower-cased;
// lines with spaces or digits are left out).
#include <cstdio>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include <unicode/uchar.h>

#include "base/utf8.h"
#include "tools/word_filters/word_filter_builder.h"

namespace talvori {
namespace {

std::string lower(std::string_view word) {
  std::string out;
  for (size_t i = 0; i < word.size();) {
    const int32_t c = decodeUtf8(word, i);
    if (c < 0) return {};
    appendUtf8(static_cast<char32_t>(u_tolower(c)), out);
  }
  return out;
}

// Reads "LANGUAGE:BITS:LIST[,LIST...]"; false if a list cannot be read.
bool readSource(std::string_view arg, WordFilterSource& source) {
  const size_t first = arg.find(':');
  const size_t second = arg.find(':', first + 1);
  source.language = arg.substr(0, first);
  source.bitsPerWord = std::stod(std::string(arg.substr(first + 1, second - first - 1)));
  std::string_view lists = arg.substr(second + 1);
  while (!lists.empty()) {
    const size_t comma = lists.find(',');
    const std::string path(lists.substr(0, comma));
    lists = comma == std::string_view::npos ? std::string_view() : lists.substr(comma + 1);
    std::ifstream in(path);
    if (!in) {
      std::fprintf(stderr, "make_word_filters: cannot read %s\n", path.c_str());
      return false;
    }
    for (std::string line; std::getline(in, line);) {
      if (line.empty() || line.find_first_of(" \t0123456789") != std::string::npos) continue;
      if (std::string word = lower(line); !word.empty()) source.words.insert(std::move(word));
    }
  }
  return true;
}

}  // namespace
}  // namespace talvori

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: make_word_filters OUT LANGUAGE:BITS:LIST[,LIST...] ...\n");
    return 2;
  }
  std::vector<talvori::WordFilterSource> sources(argc - 2);
  for (int i = 2; i < argc; ++i) {
    if (!talvori::readSource(argv[i], sources[i - 2])) return 1;
    std::printf("%s: %zu words\n", sources[i - 2].language.c_str(), sources[i - 2].words.size());
  }
  const std::string file = talvori::buildWordFilters(sources);
  std::ofstream out(argv[1], std::ios::binary);
  out.write(file.data(), static_cast<std::streamsize>(file.size()));
  return out ? 0 : 1;
}
