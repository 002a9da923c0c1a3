#include "tools/word_filters/word_filter_builder.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "platform/recogniser/word_filter.h"

namespace talvori {

std::string buildWordFilters(const std::vector<WordFilterSource>& sources) {
  std::vector<WordFilterEntry> entries(sources.size());
  std::vector<std::string> filters(sources.size());
  uint64_t offset = sizeof(WordFilterHeader) + entries.size() * sizeof(WordFilterEntry);
  for (size_t n = 0; n < sources.size(); ++n) {
    const WordFilterSource& source = sources[n];
    const uint64_t blocks = std::max<uint64_t>(
        1, static_cast<uint64_t>(std::ceil(source.words.size() * source.bitsPerWord / 512)));
    // The probe count that makes the fewest false matches at this density, at most 7 (63 bits of
    // hash).
    const unsigned probes = std::clamp<unsigned>(
        static_cast<unsigned>(std::lround(source.bitsPerWord * std::log(2.0))), 1, 7);
    std::string& filter = filters[n];
    filter.assign(blocks * WordFilter::kBlockBytes, '\0');
    for (const std::string& word : source.words) {
      const uint64_t h = WordFilter::hash(word);
      char* block = filter.data() + WordFilter::blockOf(h, blocks) * WordFilter::kBlockBytes;
      uint64_t positions = WordFilter::mix(h);
      for (unsigned i = 0; i < probes; ++i, positions >>= WordFilter::kBitsPerProbe) {
        const unsigned bit = positions & 511;
        block[bit >> 3] = static_cast<char>(block[bit >> 3] | (1u << (bit & 7)));
      }
    }
    offset =
        (offset + WordFilter::kBlockBytes - 1) / WordFilter::kBlockBytes * WordFilter::kBlockBytes;
    WordFilterEntry& entry = entries[n];
    entry = {};
    source.language.copy(entry.language, sizeof entry.language);
    entry.offset = offset;
    entry.blocks = blocks;
    entry.probes = probes;
    entry.words = static_cast<uint32_t>(source.words.size());
    offset += filter.size();
  }
  std::string file(offset, '\0');
  WordFilterHeader header{};
  std::memcpy(header.magic, kWordFilterMagic, sizeof header.magic);
  header.languages = static_cast<uint32_t>(entries.size());
  std::memcpy(file.data(), &header, sizeof header);
  for (size_t n = 0; n < entries.size(); ++n) {
    std::memcpy(file.data() + sizeof header + n * sizeof(WordFilterEntry), &entries[n],
                sizeof(WordFilterEntry));
    std::memcpy(file.data() + entries[n].offset, filters[n].data(), filters[n].size());
  }
  return file;
}

}  // namespace talvori
