#include "tools/dictionary_index/chinese_answers.h"

#include <algorithm>
#include <array>
#include <set>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/dictionary/dictionary_text.h"

namespace talvori {

namespace {

constexpr std::size_t kMaxEnglishGlosses = 3;

class ChineseAnswers {
 public:
  explicit ChineseAnswers(const CleanDictionary& dictionary)
      : entries_(dictionary.entries()), dictionary_(dictionary) {}

  std::map<std::string, std::string> build() const {
    std::map<std::string, std::string> chinese;
    for (const auto& [key, list] : dictionary_.byHeadword()) {
      // Headwords without a Han character ("88" for "bye-bye") are never asked for.
      if (!containsHan(key)) continue;
      std::string english = englishFor(list);
      if (!english.empty()) chinese.emplace(key, std::move(english));
    }
    addLanguageSpellings(chinese);
    return chinese;
  }

 private:
  // A language's name is written with 语 (spoken language) or 文 (written language) alike
  // (瑞典语, 瑞典文 "Swedish"); the dictionary often has one of the two. The other answers as
  // it does, unless it is an entry of its own.
  void addLanguageSpellings(std::map<std::string, std::string>& chinese) const {
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 4> kSpellings = {
        {{"语", "文"}, {"語", "文"}, {"文", "语"}, {"文", "語"}}};
    std::map<std::string, std::string> added;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      const bool language = std::any_of(
          entries_[i].senses.begin(), entries_[i].senses.end(),
          [](const std::string& sense) { return sense.find("language") != std::string::npos; });
      if (!dictionary_.clean(i).properName || !language) continue;
      for (const std::string& form : {entries_[i].simplified, entries_[i].traditional}) {
        const std::string key = chineseKey(form);
        const auto found = chinese.find(key);
        if (found == chinese.end()) continue;
        // 壮语 is the Zhuang language and "magnificent talk": its answer may be either.
        const auto& readings = dictionary_.byHeadword().at(key);
        if (!std::all_of(readings.begin(), readings.end(),
                         [&](std::size_t j) { return dictionary_.clean(j).properName; })) {
          continue;
        }
        for (const auto& [from, to] : kSpellings) {
          if (key.size() <= from.size() || !key.ends_with(from)) continue;
          const std::string other = key.substr(0, key.size() - from.size()) + std::string(to);
          if (chinese.count(other) == 0) added.emplace(other, found->second);
        }
      }
    }
    chinese.merge(added);
  }

  // proper names; then the entry with more general glosses; then dictionary order.
  std::string englishFor(const std::vector<std::size_t>& list) const {
    std::vector<std::vector<Gloss>> best;
    std::tuple<bool, bool, std::size_t> bestRank{false, false, 0};
    for (std::size_t i : list) {
      std::vector<std::vector<Gloss>> senses = dictionary_.sensesOf(i);
      if (senses.empty()) continue;
      std::size_t general = 0;
      for (auto& sense : senses) {
        for (Gloss& gloss : sense) {
          // A narrowed gloss still translates the word; its note was only for the way back.
          if (gloss.kind == GlossKind::narrowed) gloss.kind = GlossKind::general;
          general += gloss.kind == GlossKind::general;
        }
      }
      const std::tuple<bool, bool, std::size_t> rank{general > 0, !dictionary_.clean(i).properName,
                                                     general};
      if (best.empty() || rank > bestRank) {
        best = std::move(senses);
        bestRank = rank;
      }
    }
    std::vector<std::string> chosen;
    std::set<std::string> seen;
    for (GlossKind kind : {GlossKind::general, GlossKind::qualified, GlossKind::literal}) {
      // A literal reading is given only when the word has no other.
      if (kind == GlossKind::literal && !chosen.empty()) break;
      for (const auto& sense : best) {
        for (const Gloss& gloss : sense) {
          if (gloss.kind != kind || chosen.size() >= kMaxEnglishGlosses) continue;
          if (seen.insert(englishKey(gloss.text)).second) chosen.push_back(gloss.text);
        }
      }
    }
    std::string out;
    for (const std::string& gloss : chosen) {
      if (!out.empty()) out += "; ";
      out += gloss;
    }
    return out;
  }

  const std::vector<DictionaryEntry>& entries_;
  const CleanDictionary& dictionary_;
};

}  // namespace

std::map<std::string, std::string> chineseAnswers(const CleanDictionary& dictionary) {
  return ChineseAnswers(dictionary).build();
}

}  // namespace talvori
