// Builds the recogniser's word filters (platform/word_filter.h) from word lists, one word a line.
//
// Usage: make_word_filters OUT LANGUAGE:BITS:LIST[,LIST...] ...
//
// Each language gets one blocked Bloom filter of about BITS bits per distinct word of its lists
// (lower-cased; lines with spaces or digits are left out). More bits make fewer false matches:
// 12 bits give about 0.4%, 9 bits about 1.5%.
#include <unicode/uchar.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/word_filter.h"
#include "protocol/utf8.h"

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

struct Language {
  std::string code;
  double bits = 0;
  std::vector<std::string> lists;
};

Language parse(std::string_view arg) {
  Language language;
  const size_t first = arg.find(':');
  const size_t second = arg.find(':', first + 1);
  language.code = arg.substr(0, first);
  language.bits = std::stod(std::string(arg.substr(first + 1, second - first - 1)));
  std::string_view lists = arg.substr(second + 1);
  while (!lists.empty()) {
    const size_t comma = lists.find(',');
    language.lists.emplace_back(lists.substr(0, comma));
    lists = comma == std::string_view::npos ? std::string_view() : lists.substr(comma + 1);
  }
  return language;
}

}  // namespace
}  // namespace talvori

int main(int argc, char** argv) {
  using namespace talvori;
  if (argc < 3) {
    std::fprintf(stderr, "usage: make_word_filters OUT LANGUAGE:BITS:LIST[,LIST...] ...\n");
    return 2;
  }
  std::vector<Language> languages;
  for (int i = 2; i < argc; ++i) languages.push_back(parse(argv[i]));
  std::vector<WordFilterEntry> entries(languages.size());
  std::vector<std::vector<unsigned char>> filters(languages.size());
  uint64_t offset = sizeof(WordFilterHeader) + entries.size() * sizeof(WordFilterEntry);
  for (size_t n = 0; n < languages.size(); ++n) {
    const Language& language = languages[n];
    std::unordered_set<std::string> words;
    for (const std::string& path : language.lists) {
      std::ifstream in(path);
      if (!in) {
        std::fprintf(stderr, "make_word_filters: cannot read %s\n", path.c_str());
        return 1;
      }
      for (std::string line; std::getline(in, line);) {
        if (line.empty() || line.find_first_of(" \t0123456789") != std::string::npos) continue;
        if (std::string word = lower(line); !word.empty()) words.insert(std::move(word));
      }
    }
    const uint64_t blocks = std::max<uint64_t>(
        1, static_cast<uint64_t>(std::ceil(words.size() * language.bits / 512)));
    // The probe count that minimises false matches at this density, at most 7 (63 bits of hash).
    const unsigned probes = std::clamp<unsigned>(
        static_cast<unsigned>(std::lround(language.bits * std::log(2.0))), 1, 7);
    std::vector<unsigned char>& filter = filters[n];
    filter.assign(blocks * WordFilter::kBlockBytes, 0);
    for (const std::string& word : words) {
      const uint64_t h = WordFilter::hash(word);
      unsigned char* block = filter.data() + WordFilter::blockOf(h, blocks) * WordFilter::kBlockBytes;
      uint64_t positions = WordFilter::mix(h);
      for (unsigned i = 0; i < probes; ++i, positions >>= WordFilter::kBitsPerProbe) {
        const unsigned bit = positions & 511;
        block[bit >> 3] |= static_cast<unsigned char>(1u << (bit & 7));
      }
    }
    offset = (offset + WordFilter::kBlockBytes - 1) / WordFilter::kBlockBytes *
             WordFilter::kBlockBytes;
    WordFilterEntry& entry = entries[n];
    entry = {};
    language.code.copy(entry.language, sizeof entry.language);
    entry.offset = offset;
    entry.blocks = blocks;
    entry.probes = probes;
    entry.words = static_cast<uint32_t>(words.size());
    offset += filter.size();
    std::fprintf(stderr, "%s: %zu words, %llu bytes, %u probes\n", language.code.c_str(),
                 words.size(), static_cast<unsigned long long>(filter.size()), probes);
  }
  std::ofstream out(argv[1], std::ios::binary);
  WordFilterHeader header{};
  std::copy(std::begin(kWordFilterMagic), std::end(kWordFilterMagic), header.magic);
  header.languages = static_cast<uint32_t>(entries.size());
  out.write(reinterpret_cast<const char*>(&header), sizeof header);
  out.write(reinterpret_cast<const char*>(entries.data()),
            static_cast<std::streamsize>(entries.size() * sizeof(WordFilterEntry)));
  for (size_t n = 0; n < filters.size(); ++n) {
    while (static_cast<uint64_t>(out.tellp()) < entries[n].offset) out.put('\0');
    out.write(reinterpret_cast<const char*>(filters[n].data()),
              static_cast<std::streamsize>(filters[n].size()));
  }
  return out ? 0 : 1;
}
