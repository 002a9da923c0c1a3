#include "tools/dictionary_index/english_lexicon.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string_view>

namespace talvori {

namespace {

bool has(const EnglishLexicon& lexicon, const std::string& word, PartOfSpeech pos) {
  const auto found = lexicon.lemmas.find(word);
  return found != lexicon.lemmas.end() && (found->second & static_cast<std::uint8_t>(pos)) != 0;
}

struct Detachment {
  std::string_view ending;
  std::string_view replacement;
};

// WordNet's detachment rules for the regular plurals of nouns and the regular past forms and
// participles of verbs (not its rules for third persons: "opens" is no answer's form).
constexpr std::array<Detachment, 8> kNounRules = {{{"s", ""},
                                                   {"ses", "s"},
                                                   {"xes", "x"},
                                                   {"zes", "z"},
                                                   {"ches", "ch"},
                                                   {"shes", "sh"},
                                                   {"men", "man"},
                                                   {"ies", "y"}}};
constexpr std::array<Detachment, 5> kVerbRules = {
    {{"ed", "e"}, {"ed", ""}, {"ied", "y"}, {"ing", "e"}, {"ing", ""}}};

void add(std::unordered_map<std::string, std::vector<InflectedForm>>& out, const std::string& base,
         const std::string& form, Inflection inflection) {
  auto& forms = out[base];
  for (const InflectedForm& known : forms) {
    if (known.form == form && known.inflection == inflection) return;
  }
  forms.push_back({form, inflection});
}

}  // namespace

std::unordered_map<std::string, std::vector<InflectedForm>> inflectedForms(
    const EnglishLexicon& lexicon) {
  std::unordered_map<std::string, std::vector<InflectedForm>> out;
  std::vector<std::string> forms = lexicon.words;
  for (const auto& [form, bases] : lexicon.exceptions) forms.push_back(form);
  std::sort(forms.begin(), forms.end());
  forms.erase(std::unique(forms.begin(), forms.end()), forms.end());
  for (const std::string& form : forms) {
    const auto irregular = lexicon.exceptions.find(form);
    const auto verbInflection = [&] {
      return form.ends_with("ing") ? Inflection::presentParticiple : Inflection::past;
    };
    bool irregularNoun = false, irregularVerb = false;
    if (irregular != lexicon.exceptions.end()) {
      for (const auto& [base, pos] : irregular->second) {
        if (base == form || !has(lexicon, base, pos)) continue;
        if (pos == PartOfSpeech::noun) {
          add(out, base, form, Inflection::plural);
          irregularNoun = true;
        }
        // Irregular verb forms in "s" are third persons ("has"), which no answer takes.
        if (pos == PartOfSpeech::verb && !form.ends_with("s")) {
          add(out, base, form, verbInflection());
          irregularVerb = true;
        }
      }
    }
    if (!irregularNoun) {
      for (const Detachment& rule : kNounRules) {
        if (form.size() <= rule.ending.size() || !form.ends_with(rule.ending)) continue;
        const std::string base =
            form.substr(0, form.size() - rule.ending.size()) + std::string(rule.replacement);
        if (has(lexicon, base, PartOfSpeech::noun)) add(out, base, form, Inflection::plural);
      }
    }
    if (!irregularVerb) {
      for (const Detachment& rule : kVerbRules) {
        if (form.size() <= rule.ending.size() + 1 || !form.ends_with(rule.ending)) continue;
        const std::string base =
            form.substr(0, form.size() - rule.ending.size()) + std::string(rule.replacement);
        if (has(lexicon, base, PartOfSpeech::verb)) add(out, base, form, verbInflection());
      }
    }
  }
  return out;
}

namespace {

std::ifstream openOrThrow(const std::string& path) {
  std::ifstream file(path);
  if (!file) throw std::runtime_error("cannot read " + path);
  return file;
}

std::string spaced(std::string word) {
  std::replace(word.begin(), word.end(), '_', ' ');
  return word;
}

// A synset's number: its part of speech's file (0 to 3) and its byte offset there.
std::uint32_t synsetId(std::size_t file, std::uint32_t offset) {
  return static_cast<std::uint32_t>(file << 28) | offset;
}

// Reads the synsets of data.NAME (file number `file`): their lemmas, their similar adjectives,
// and their derivation pointers, which name lemmas by their place in a synset (resolved once every
// file is read).
struct Derivation {
  std::uint32_t from, to;
  unsigned fromWord, toWord;
};
void readSynsets(std::ifstream& data, std::size_t file, EnglishLexicon& lexicon,
                 std::unordered_map<std::uint32_t, std::vector<std::string>>& members,
                 std::vector<Derivation>& derivations) {
  static constexpr std::string_view kFileOf = "nvar";
  std::string line;
  while (std::getline(data, line)) {
    if (line.empty() || line.front() == ' ') continue;  // the licence
    std::istringstream fields(line);
    std::uint32_t offset = 0;
    std::string lexFile, type, count;
    if (!(fields >> offset >> lexFile >> type >> count)) continue;
    const std::uint32_t id = synsetId(file, offset);
    auto& words = members[id];
    const unsigned long words_count = std::stoul(count, nullptr, 16);
    for (unsigned long w = 0; w < words_count; ++w) {
      std::string word, lexId;
      fields >> word >> lexId;
      // Adjectives may carry their position: "galore(ip)".
      if (const std::size_t paren = word.find('('); paren != std::string::npos) word.erase(paren);
      std::transform(word.begin(), word.end(), word.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      words.push_back(spaced(word));
    }
    std::size_t pointers = 0;
    fields >> pointers;
    for (std::size_t p = 0; p < pointers; ++p) {
      std::string symbol, targetPos, sourceTarget;
      std::uint32_t target = 0;
      fields >> symbol >> target >> targetPos >> sourceTarget;
      const std::size_t targetFile = targetPos == "s" ? 2 : kFileOf.find(targetPos.front());
      if (targetFile == std::string_view::npos || sourceTarget.size() != 4) continue;
      const std::uint32_t targetId = synsetId(targetFile, target);
      if (symbol == "&" || (file == 1 && targetFile == 1 && (symbol == "@" || symbol == "~"))) {
        lexicon.similar.insert(std::uint64_t{id} << 32 | targetId);
        lexicon.similar.insert(std::uint64_t{targetId} << 32 | id);
      } else if (symbol == "+") {
        const unsigned word = static_cast<unsigned>(std::stoul(sourceTarget, nullptr, 16));
        derivations.push_back({id, targetId, word >> 8, word & 0xFF});
      }
    }
  }
}

}  // namespace

EnglishLexicon readEnglishLexicon(const std::string& wordnetDirectory,
                                  const std::string& wordsPath) {
  EnglishLexicon lexicon;
  constexpr std::array<std::pair<std::string_view, PartOfSpeech>, 4> kFiles = {
      {{"noun", PartOfSpeech::noun},
       {"verb", PartOfSpeech::verb},
       {"adj", PartOfSpeech::adjective},
       {"adv", PartOfSpeech::adverb}}};
  std::unordered_map<std::uint32_t, std::vector<std::string>> members;
  std::vector<Derivation> derivations;
  for (std::size_t file = 0; file < kFiles.size(); ++file) {
    const auto& [name, pos] = kFiles[file];
    std::ifstream index = openOrThrow(wordnetDirectory + "/index." + std::string(name));
    std::string line;
    while (std::getline(index, line)) {
      if (line.empty() || line.front() == ' ') continue;  // the licence
      // "lemma pos synset_cnt p_cnt [ptr_symbol...] sense_cnt tagsense_cnt synset_offset...":
      // the offsets, commonest meaning first, end the line.
      std::istringstream fields(line);
      std::string word, letter;
      std::size_t synsets = 0, pointers = 0;
      fields >> word >> letter >> synsets >> pointers;
      const std::string lemma = spaced(word);
      lexicon.lemmas[lemma] |= static_cast<std::uint8_t>(pos);
      std::string skipped;
      for (std::size_t p = 0; p < pointers + 2; ++p) fields >> skipped;
      auto& meanings = lexicon.meanings[lemma];
      std::uint32_t offset = 0;
      for (std::uint32_t rank = 0; rank < synsets && fields >> offset; ++rank) {
        meanings.push_back({synsetId(file, offset), rank});
      }
    }
    std::ifstream data = openOrThrow(wordnetDirectory + "/data." + std::string(name));
    readSynsets(data, file, lexicon, members, derivations);
    std::ifstream exceptions = openOrThrow(wordnetDirectory + "/" + std::string(name) + ".exc");
    while (std::getline(exceptions, line)) {
      std::istringstream fields(line);
      std::string form, base;
      if (!(fields >> form)) continue;
      while (fields >> base) lexicon.exceptions[spaced(form)].emplace_back(spaced(base), pos);
    }
  }
  const auto wordOf = [&](std::uint32_t synset, unsigned number) -> const std::string* {
    const auto found = members.find(synset);
    if (found == members.end() || number == 0 || number > found->second.size()) return nullptr;
    return &found->second[number - 1];
  };
  for (const Derivation& d : derivations) {
    const std::string* from = wordOf(d.from, d.fromWord);
    const std::string* to = wordOf(d.to, d.toWord);
    if (from == nullptr || to == nullptr) continue;
    lexicon.derived.insert(*from + '\t' + *to);
    lexicon.derived.insert(*to + '\t' + *from);
  }
  // cntlist.rev: "sense_key sense_number count", the sense key "lemma%pos:..." with pos 2 for
  // verbs.
  std::ifstream counts = openOrThrow(wordnetDirectory + "/cntlist.rev");
  std::string line;
  while (std::getline(counts, line)) {
    std::istringstream fields(line);
    std::string key, number;
    std::uint32_t count = 0;
    if (!(fields >> key >> number >> count)) continue;
    const std::size_t percent = key.find('%');
    if (percent == std::string::npos || percent + 1 >= key.size()) continue;
    EnglishLexicon::Usage& usage = lexicon.usage[spaced(key.substr(0, percent))];
    (key[percent + 1] == '2' ? usage.verb : usage.other) += count;
    if (key[percent + 1] == '3' || key[percent + 1] == '5') usage.adjective += count;
  }
  std::ifstream words = openOrThrow(wordsPath);
  std::string word;
  while (std::getline(words, word)) {
    if (word.empty() || word.find('\'') != std::string::npos) continue;
    if (!std::all_of(word.begin(), word.end(), [](char c) { return c >= 'a' && c <= 'z'; })) {
      continue;  // names and words with capitals or accents
    }
    lexicon.words.push_back(word);
  }
  return lexicon;
}

bool synonymous(const EnglishLexicon& lexicon, const std::string& a, const std::string& b,
                std::uint32_t senses) {
  if (a == b || lexicon.derived.count(a + '\t' + b) != 0) return true;
  const auto first = lexicon.meanings.find(a);
  const auto second = lexicon.meanings.find(b);
  if (first == lexicon.meanings.end() || second == lexicon.meanings.end()) return false;
  for (const EnglishLexicon::Meaning& x : first->second) {
    if (x.rank >= senses) continue;
    for (const EnglishLexicon::Meaning& y : second->second) {
      if (y.rank >= senses) continue;
      if (x.synset == y.synset || lexicon.similar.count(std::uint64_t{x.synset} << 32 | y.synset)) {
        return true;
      }
    }
  }
  return false;
}

namespace {
bool mostly(std::uint32_t part, std::uint32_t all) {
  return part >= 3 && 2 * part > 3 * (all - part);
}
}  // namespace

bool mostlyAdjective(const EnglishLexicon& lexicon, const std::string& word) {
  const auto found = lexicon.usage.find(word);
  return found != lexicon.usage.end() &&
         mostly(found->second.adjective, found->second.verb + found->second.other);
}

bool mostlyVerb(const EnglishLexicon& lexicon, const std::string& word) {
  const auto found = lexicon.usage.find(word);
  return found != lexicon.usage.end() && found->second.verb >= 3 &&
         2 * found->second.verb > 3 * found->second.other;
}

}  // namespace talvori
