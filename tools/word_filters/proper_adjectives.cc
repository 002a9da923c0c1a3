// Writes the proper adjectives of English word lists: the words they spell with a capital that
// WordNet has as adjectives ("Gaussian", "Nordic", "Boolean", "Canadian"), one lower-case word a
// line.
//
// Usage: proper_adjectives OUT INDEX_ADJ WORDLIST...
//
// The English list leaves out every word spelt with a capital, as most are names of people and
// places that are words of other languages; adjectives made from names are English, and
// interface text uses them ("Gaussian Blur", "Nordic").
#include <cctype>
#include <fstream>
#include <iostream>
#include <set>
#include <string>

int main(int argc, char** argv) {
  if (argc < 4) {
    std::cerr << "usage: proper_adjectives OUT INDEX_ADJ WORDLIST...\n";
    return 2;
  }
  std::ifstream index(argv[2]);
  if (!index) {
    std::cerr << "proper_adjectives: cannot read " << argv[2] << "\n";
    return 1;
  }
  std::set<std::string> adjectives;
  for (std::string line; std::getline(index, line);) {
    if (line.empty() || line.front() == ' ') continue;  // the licence
    adjectives.insert(line.substr(0, line.find(' ')));
  }
  std::set<std::string> words;
  for (int i = 3; i < argc; ++i) {
    std::ifstream list(argv[i]);
    if (!list) {
      std::cerr << "proper_adjectives: cannot read " << argv[i] << "\n";
      return 1;
    }
    for (std::string word; std::getline(list, word);) {
      // A capital and small ASCII letters only: no possessives, no abbreviations.
      if (word.size() < 2 || !std::isupper(static_cast<unsigned char>(word.front()))) continue;
      bool letters = true;
      for (std::size_t c = 1; c < word.size() && letters; ++c) {
        letters = std::islower(static_cast<unsigned char>(word[c])) != 0;
      }
      if (!letters) continue;
      word.front() = static_cast<char>(std::tolower(static_cast<unsigned char>(word.front())));
      if (adjectives.count(word) != 0) words.insert(word);
    }
  }
  std::ofstream out(argv[1]);
  for (const std::string& word : words) out << word << '\n';
  return out ? 0 : 1;
}
