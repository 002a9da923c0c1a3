#include "tools/dictionary_index/english_lexicon.h"

#include <algorithm>
#include <array>
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

}  // namespace

EnglishLexicon readEnglishLexicon(const std::string& wordnetDirectory,
                                  const std::string& wordsPath) {
  EnglishLexicon lexicon;
  constexpr std::array<std::pair<std::string_view, PartOfSpeech>, 4> kFiles = {
      {{"noun", PartOfSpeech::noun},
       {"verb", PartOfSpeech::verb},
       {"adj", PartOfSpeech::adjective},
       {"adv", PartOfSpeech::adverb}}};
  for (const auto& [name, pos] : kFiles) {
    std::ifstream index = openOrThrow(wordnetDirectory + "/index." + std::string(name));
    std::string line;
    while (std::getline(index, line)) {
      if (line.empty() || line.front() == ' ') continue;  // the licence
      const std::string lemma = spaced(line.substr(0, line.find(' ')));
      lexicon.lemmas[lemma] |= static_cast<std::uint8_t>(pos);
    }
    std::ifstream exceptions = openOrThrow(wordnetDirectory + "/" + std::string(name) + ".exc");
    while (std::getline(exceptions, line)) {
      std::istringstream fields(line);
      std::string form, base;
      if (!(fields >> form)) continue;
      while (fields >> base) lexicon.exceptions[spaced(form)].emplace_back(spaced(base), pos);
    }
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

bool mostlyVerb(const EnglishLexicon& lexicon, const std::string& word) {
  const auto found = lexicon.usage.find(word);
  return found != lexicon.usage.end() && found->second.verb >= 3 &&
         2 * found->second.verb > 3 * found->second.other;
}

}  // namespace talvori
