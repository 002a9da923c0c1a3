#include "tools/dictionary_index/english_answers.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <optional>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

#include "base/utf8.h"
#include "platform/dictionary/dictionary_text.h"

namespace talvori {

namespace {

// The scoring of English to Chinese candidates: the log of a word's frequency, less a penalty for
// each sense before the matching one and for each gloss before it within that sense. A word ten
// times as common may stand two senses or two glosses later.
constexpr double kSensePenalty = 0.5;
constexpr double kGlossPenalty = 0.5;
// A candidate whose sense stands later than this is not a translation one can be sure of.
constexpr std::size_t kLatestSense = 2;
// Within a sense, only the first glosses translate the word; later ones widen or narrow it.
constexpr std::size_t kLatestGloss = 1;
// Corpus counts of single characters include uses as parts of longer words the segmenter missed
// and as bound forms; a character must be this much more common than a word to be preferred.
constexpr double kSingleCharacterPenalty = 1.0;
constexpr double kBareVerbPenalty = 0.5;
constexpr double kNarrowedPenalty = 1.0;
// An English form derived from a verb gloss ("warning", "opened" from "to warn", "to open").
constexpr double kDerivedFormPenalty = 0.6;
// A verb gloss on a word the corpus mostly uses as a noun ("to write" on 著作, which is mostly
// "writings"): the word is rarely the translation of that gloss.
constexpr double kPartOfSpeechPenalty = 0.6;
// Fewer corpus occurrences than this make a word rare: it is trusted only for its first meaning,
// and only when it has few.
constexpr std::uint64_t kRareWord = 100;
// A second candidate is given when it scores at most this much below the first and means the
// same; a candidate this close that means something else leaves the text without a sure answer.
constexpr double kSecondMargin = 0.3;
constexpr double kAmbiguousMargin = 0.3;

// English words whose translation depends on the words around them.
const std::set<std::string_view> kVagueWords = {"as",  "at", "by",  "for",  "in", "of",
                                                "off", "on", "out", "over", "to", "with"};

class EnglishAnswers {
 public:
  EnglishAnswers(const CleanDictionary& dictionary, const WordFrequencies& frequencies,
                 const WordTags& tags)
      : entries_(dictionary.entries()),
        dictionary_(dictionary),
        frequencies_(frequencies),
        tags_(tags) {}

  std::map<std::string, std::string> build() const {
    std::map<std::string, std::string> english;
    for (auto& [key, list] : candidates()) {
      if (std::optional<std::string> answer = choose(key, list)) {
        english.emplace(key, std::move(*answer));
      }
    }
    return english;
  }

 private:
  bool isMainReading(std::size_t i) const {
    const auto found = dictionary_.byHeadword().find(chineseKey(entries_[i].simplified));
    if (found == dictionary_.byHeadword().end()) return true;
    for (std::size_t j : found->second) {
      if (j != i && entries_[j].simplified == entries_[i].simplified &&
          dictionary_.clean(j).senses.size() > dictionary_.clean(i).senses.size()) {
        return false;
      }
    }
    return true;
  }

  struct Candidate {
    double score;
    std::size_t entry;
    // Whether the gloss is its word's first meaning, the first gloss of its first sense, in the
    // form asked for (not a verb standing for its bare form).
    bool primary;
  };

  std::uint64_t frequencyOf(const std::string& word) const {
    const auto found = frequencies_.find(word);
    return found == frequencies_.end() ? 0 : found->second;
  }

  std::string_view tagOf(const std::string& word) const {
    const auto found = tags_.find(word);
    return found == tags_.end() ? std::string_view() : std::string_view(found->second);
  }

  // The keys of the general glosses of entry `i`'s first senses: what the word means.
  std::set<std::string> meaningsOf(std::size_t i) const {
    std::set<std::string> keys;
    const auto& senses = dictionary_.clean(i).senses;
    for (std::size_t s = 0; s < senses.size() && s <= kLatestSense; ++s) {
      for (const Gloss& gloss : senses[s]) {
        std::string key = englishKey(gloss.text);
        if (key.starts_with("to ")) key.erase(0, 3);
        if (gloss.kind != GlossKind::literal && !key.empty()) keys.insert(std::move(key));
      }
    }
    return keys;
  }

  // Whether `word` has a character the corpus saw fewer than kRareWord times on its own.
  bool hasRareCharacter(std::string_view word) const {
    for (std::size_t at = 0; at < word.size();) {
      const std::size_t start = at;
      if (decodeUtf8(word, at) == kIllFormed) return true;
      if (frequencyOf(std::string(word.substr(start, at - start))) < kRareWord) return true;
    }
    return false;
  }

  // Whether entries `a` and `b`, both candidates for `key`, mean the same: one of them means
  // nothing else, they share another gloss (计算机 "computer; calculator" and 电脑
  // "computer"), or a character (区别 and 差别 "difference"); not 圆柱 "column; cylinder" and
  // 纵队 "column; file".
  bool sameMeaning(std::size_t a, std::size_t b, std::string key) const {
    for (std::size_t at = 0; at < entries_[a].simplified.size();) {
      const std::size_t start = at;
      decodeUtf8(entries_[a].simplified, at);
      if (entries_[b].simplified.find(entries_[a].simplified.substr(start, at - start)) !=
          std::string::npos) {
        return true;
      }
    }
    if (key.starts_with("to ")) key.erase(0, 3);
    const auto others = [&](std::size_t i) {
      std::set<std::string> keys = meaningsOf(i);
      for (auto it = keys.begin(); it != keys.end();) {
        const bool same = *it == key || pluralKey(*it) == key || presentParticipleKey(*it) == key ||
                          pastParticipleKey(*it) == key;
        it = same ? keys.erase(it) : std::next(it);
      }
      return keys;
    };
    const std::set<std::string> first = others(a), second = others(b);
    if (first.empty() || second.empty()) return true;
    for (const std::string& meaning : first) {
      if (second.count(meaning) != 0) return true;
    }
    return false;
  }

  // Every gloss of every word's own senses is a candidate translation of the gloss's key.
  std::map<std::string, std::vector<Candidate>> candidates() const {
    std::map<std::string, std::vector<Candidate>> candidates;
    std::map<std::string, std::vector<Candidate>> plurals;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      const DictionaryEntry& entry = entries_[i];
      if (!containsHan(entry.simplified)) continue;
      const std::uint64_t frequency = frequencyOf(entry.simplified);
      const auto& senses = dictionary_.clean(i).senses;
      // A rare word is trusted only for its first sense, and only when it has few: a name or
      // term, not a rare word with a spread of meanings ("to make sense; passable; acceptable").
      const bool rare = frequency < kRareWord;
      if (rare && senses.size() > 2) continue;
      const bool rareCharacter = rare && hasRareCharacter(entry.simplified);
      // A single character with a proper-name reading is a surname or an abbreviation
      // (加 for Canada), never the name itself.
      const bool singleCharacter = countCodePoints(entry.simplified) == 1;
      if (singleCharacter && dictionary_.clean(i).properName) continue;
      // Of a word's readings only the main one (with the most senses) is offered: the count
      // covers them all, and mostly the main one.
      if (!isMainReading(i)) continue;
      const std::string_view tag = tagOf(entry.simplified);
      const bool nounTag = !tag.empty() && tag.front() == 'n';
      // Used as a noun: a noun, or a verb often used as one ("vn").
      const bool nounUse = nounTag || tag == "vn";
      // Function words (pronouns, prepositions, conjunctions, particles, adverbs,
      // interjections) and abbreviations (亚 for Asia) answer only their own glosses, never a
      // plural or another form of them.
      static const std::set<std::string_view> kFunctionTags = {"r",  "rr", "rz", "p",  "c",  "u",
                                                               "uj", "ul", "uv", "uz", "ud", "ug",
                                                               "d",  "e",  "y",  "o",  "j"};
      const bool contentWord = kFunctionTags.count(tag) == 0;
      for (std::size_t s = 0; s < senses.size() && s <= kLatestSense; ++s) {
        // Beyond its first sense a character is too often a bound or literary form, and beyond
        // its first gloss one of several uses ("to add; to attach; to be close to").
        if ((rare || singleCharacter) && s > 0) break;
        const std::size_t latestGloss = singleCharacter ? 0 : kLatestGloss;
        for (std::size_t g = 0; g < senses[s].size() && g <= latestGloss; ++g) {
          const Gloss& gloss = senses[s][g];
          // Literary, regional or slang uses are no answer to a plain English word, nor is a
          // narrowed one unless it is the word's first meaning ("(computing) submenu").
          const bool narrowed = gloss.kind == GlossKind::narrowed;
          if (gloss.kind != GlossKind::general && !(narrowed && s == 0 && g == 0)) continue;
          const std::string key = englishKey(gloss.text);
          if (key.empty()) continue;
          const bool verbGloss = key.starts_with("to ") && key.size() > 3;
          // An idiom translates a phrase, not a single English word.
          if (dictionary_.clean(i).idiom && key.find(' ', verbGloss ? 3 : 0) == std::string::npos)
            continue;
          if (rare && g > 0) continue;
          // A rare word written with a rare character is literary or obsolete (祓饰 "to
          // refresh"): it answers only a name or a term of several words, not a common word.
          if (rareCharacter && !dictionary_.clean(i).properName &&
              key.find(' ', verbGloss ? 3 : 0) == std::string::npos) {
            continue;
          }
          const bool primary = s == 0 && g == 0;
          const double score = std::log10(static_cast<double>(frequency) + 1.0) -
                               kSensePenalty * double(s) - kGlossPenalty * double(g) -
                               (singleCharacter ? kSingleCharacterPenalty : 0.0) -
                               (narrowed ? kNarrowedPenalty : 0.0);
          // A verb gloss on a word mostly used as a noun (著作 "to write; writings").
          const double verbScore = score - (nounTag && verbGloss ? kPartOfSpeechPenalty : 0.0);
          candidates[key].push_back({verbGloss ? verbScore : score, i, primary});
          if (!contentWord) continue;
          // Chinese nouns have no plural: the plural of a noun or adjective (of a gloss that is
          // no verb or name) answers as it does, unless it has an answer of its own.
          if (!verbGloss && !std::isupper(static_cast<unsigned char>(gloss.text.front()))) {
            plurals[pluralKey(key)].push_back({score, i, primary});
          }
          if (verbGloss) {
            const std::string bare = key.substr(3);
            // A verb ("to open") also answers its bare form ("open"), after any noun or
            // adjective of that form.
            candidates[bare].push_back({verbScore - kBareVerbPenalty, i, false});
            // And, when it is the word's first meaning, its participles ("opening", "opened"),
            // after any word glossed so. A word mostly used as a noun is the noun in "-ing"
            // ("warning" for 警告 "to warn").
            if (!primary || singleCharacter) continue;
            const double derivedPenalty = kDerivedFormPenalty + kBareVerbPenalty;
            const std::string participle = presentParticipleKey(bare);
            candidates[participle].push_back({nounUse ? score : score - derivedPenalty, i, false});
            if (nounUse) plurals[pluralKey(participle)].push_back({score, i, false});
            candidates[pastParticipleKey(bare)].push_back(
                {verbScore - kDerivedFormPenalty, i, false});
          }
          // Likewise a language ("Korean language") answers its bare name ("Korean").
          constexpr std::string_view kLanguage = " language";
          if (key.ends_with(kLanguage) && key.size() > kLanguage.size()) {
            candidates[key.substr(0, key.size() - kLanguage.size())].push_back(
                {score - kBareVerbPenalty, i, false});
          }
        }
      }
    }
    for (auto& [key, list] : plurals) candidates.try_emplace(key, std::move(list));
    return candidates;
  }

  // The answer for `key` among its candidates; none when it has no sure one.
  std::optional<std::string> choose(const std::string& key, std::vector<Candidate>& list) const {
    // Prepositions and the like say too little alone: "by" is 被, 由, 到, 截至 ...
    if (kVagueWords.count(key) != 0) return std::nullopt;
    // One candidate per Simplified word, with its best score.
    std::sort(list.begin(), list.end(),
              [](const Candidate& a, const Candidate& b) { return a.score > b.score; });
    std::vector<const Candidate*> words;
    std::set<std::string> seen;
    for (const Candidate& candidate : list) {
      if (seen.insert(entries_[candidate.entry].simplified).second) words.push_back(&candidate);
    }
    const std::size_t first = words[0]->entry;
    std::string answer = entries_[first].simplified;
    if (words.size() > 1 && words[1]->score >= words[0]->score - kAmbiguousMargin) {
      const std::size_t second = words[1]->entry;
      // Two words about as likely, each first meaning the text, that mean different things
      // otherwise: no sure answer.
      if (words[0]->primary && words[1]->primary &&
          countCodePoints(entries_[first].simplified) > 1 &&
          countCodePoints(entries_[second].simplified) > 1 && !sameMeaning(first, second, key)) {
        return std::nullopt;
      }
      // A second word only when it is about as common and the gloss is its first meaning too.
      if (words[1]->score >= words[0]->score - kSecondMargin && words[1]->primary &&
          words[0]->primary && countCodePoints(entries_[second].simplified) > 1) {
        answer += "；" + entries_[second].simplified;
      }
    }
    return answer;
  }

  const std::vector<DictionaryEntry>& entries_;
  const CleanDictionary& dictionary_;
  const WordFrequencies& frequencies_;
  const WordTags& tags_;
};

}  // namespace

std::map<std::string, std::string> englishAnswers(const CleanDictionary& dictionary,
                                                  const WordFrequencies& frequencies,
                                                  const WordTags& tags) {
  return EnglishAnswers(dictionary, frequencies, tags).build();
}

}  // namespace talvori
