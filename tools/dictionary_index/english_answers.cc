#include "tools/dictionary_index/english_answers.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <optional>
#include <set>
#include <string_view>
#include <unordered_map>
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
// A verb ("to open") standing for its bare form ("open"), or a noun or adjective standing for a
// word mostly used as a verb ("cut"); also a language or place standing for its bare name.
constexpr double kBareVerbPenalty = 0.5;
// A computing sense counts as if its word were ten times as common, wherever it stands in the
// entry: a text selected in a program most likely has it, but a much commoner word still wins
// over a rare term.
constexpr double kComputingBonus = 1.0;
// A plural made from a noun's gloss, beside a word glossed with the plural itself.
constexpr double kPluralPenalty = 0.3;
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
// How many of a lemma's commonest WordNet meanings (per part of speech) count when telling whether
// a word's earlier senses mean the text.
constexpr std::uint32_t kSynonymMeanings = 5;
// A computing sense from this sense on stands deep in its entry.
constexpr std::size_t kDeepSense = 3;

// English words whose translation depends on the words around them.
const std::set<std::string_view> kVagueWords = {"as",  "at", "by",  "for",  "from", "in",  "of",
                                                "off", "on", "out", "over", "to",   "with"};

// What a name's gloss may add to the bare name: "Korean language", "Beijing municipality".
constexpr std::array<std::string_view, 3> kKindsOfName = {" language", " province",
                                                          " municipality"};

// Whether `key` names a kind of place after a name ("sichuan province").
bool namesKindOfPlace(const std::string& key) {
  return std::any_of(kKindsOfName.begin() + 1, kKindsOfName.end(),
                     [&](std::string_view kind) { return key.ends_with(kind); });
}

// Verbs whose forms ("done", "been", "had") stand for a grammatical use more than for the verb.
const std::set<std::string_view> kAuxiliaries = {"be", "do", "have"};

// Function words (pronouns, prepositions, conjunctions, particles, adverbs, interjections) and
// abbreviations (亚 for Asia), by their tags: they answer only their own glosses, never a plural or
// another form of them.
const std::set<std::string_view> kFunctionTags = {"r",  "rr", "rz", "p", "c", "u", "uj", "ul", "uv",
                                                  "uz", "ud", "ug", "d", "e", "y", "o",  "j"};

class EnglishAnswers {
 public:
  EnglishAnswers(const CleanDictionary& dictionary, const WordFrequencies& frequencies,
                 const WordTags& tags, const EnglishLexicon& lexicon)
      : entries_(dictionary.entries()),
        dictionary_(dictionary),
        frequencies_(frequencies),
        tags_(tags),
        lexicon_(lexicon),
        forms_(inflectedForms(lexicon)) {
    for (const auto& [base, forms] : forms_) {
      for (const InflectedForm& form : forms) bases_[form.form].push_back(base);
    }
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      if (!containsHan(entries_[i].simplified)) continue;
      for (const auto& sense : dictionary_.clean(i).senses) {
        for (const Gloss& gloss : sense) {
          if (gloss.kind == GlossKind::literal) continue;
          std::string key = withoutTo(englishKey(gloss.text));
          if (key.empty()) continue;
          auto& list = glossed_[key];
          if (list.empty() || list.back() != i) list.push_back(i);
        }
      }
      // Every part of two characters or more of the headword, but the whole; headwords longer
      // than a dozen characters are sentences and sayings, not compounds of words.
      const std::string& word = entries_[i].simplified;
      std::vector<std::size_t> starts;
      for (std::size_t at = 0; at < word.size();) {
        starts.push_back(at);
        decodeUtf8(word, at);
      }
      starts.push_back(word.size());
      const std::size_t n = starts.size() - 1;
      if (n > 12) continue;
      for (std::size_t a = 0; a < n; ++a) {
        for (std::size_t b = a + 2; b <= n; ++b) {
          if (a == 0 && b == n) continue;
          auto& list = containing_[word.substr(starts[a], starts[b] - starts[a])];
          if (list.empty() || list.back() != i) list.push_back(i);
        }
      }
    }
  }

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
    // Where the gloss stands in its entry, and whether a note gives it as a computing sense.
    std::size_t sense;
    std::size_t gloss;
    bool computing;
  };

  // The keys of the forms of `key` with `inflection` ("file systems", "logging in"): a plural
  // changes the last word, a verb form the first.
  std::vector<std::string> formsOf(const std::string& key, Inflection inflection) const {
    const bool last = inflection == Inflection::plural;
    const std::size_t space = last ? key.rfind(' ') : key.find(' ');
    const std::size_t start = last && space != std::string::npos ? space + 1 : 0;
    const std::size_t end = !last && space != std::string::npos ? space : key.size();
    std::vector<std::string> out;
    const auto found = forms_.find(key.substr(start, end - start));
    if (found == forms_.end()) return out;
    for (const InflectedForm& form : found->second) {
      if (form.inflection == inflection) {
        out.push_back(key.substr(0, start) + form.form + key.substr(end));
      }
    }
    return out;
  }

  // Whether `form` is `key` or one of its inflected forms.
  bool isFormOf(const std::string& form, const std::string& key) const {
    if (form == key) return true;
    for (Inflection inflection :
         {Inflection::plural, Inflection::past, Inflection::presentParticiple}) {
      const std::vector<std::string> forms = formsOf(key, inflection);
      if (std::find(forms.begin(), forms.end(), form) != forms.end()) return true;
    }
    return false;
  }

  // Whether one of entry `i`'s general glosses has `key` for its key.
  bool glosses(std::size_t i, const std::string& key) const {
    for (const auto& sense : dictionary_.clean(i).senses) {
      for (const Gloss& gloss : sense) {
        if (gloss.kind == GlossKind::general && englishKey(gloss.text) == key) return true;
      }
    }
    return false;
  }

  // Whether `word` is a lemma of the lexicon, a word of its own.
  bool isLemma(const std::string& word) const { return lexicon_.lemmas.count(word) != 0; }

  // Whether entry `i` is a place's short name that only refers to its full name, which starts
  // with it (四川, "see 四川省").
  bool shortNameFor(std::size_t i) const {
    const CleanEntry& clean = dictionary_.clean(i);
    if (!clean.senses.empty() || !clean.properName || clean.references.size() != 1) return false;
    const std::string& full = clean.references.front().headword;
    return full.size() > entries_[i].simplified.size() &&
           (full.starts_with(entries_[i].simplified) || full.starts_with(entries_[i].traditional));
  }

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
        it = isFormOf(key, *it) ? keys.erase(it) : std::next(it);
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

  // The parts of speech a gloss's key may have: a verb for "to ...", else the lexicon's.
  std::uint8_t partsOfSpeech(const std::string& key) const {
    if (key.starts_with("to ") && key.size() > 3) {
      return static_cast<std::uint8_t>(PartOfSpeech::verb);
    }
    const auto found = lexicon_.lemmas.find(key);
    return found == lexicon_.lemmas.end() ? 0 : found->second;
  }

  // The parts of speech a corpus tag stands for; 0 when it names none of them.
  static std::uint8_t partsOfTag(std::string_view tag) {
    const auto bit = [](PartOfSpeech part) { return static_cast<std::uint8_t>(part); };
    if (tag.empty()) return 0;
    if (tag == "vn") return bit(PartOfSpeech::verb) | bit(PartOfSpeech::noun);
    if (tag == "an") return bit(PartOfSpeech::adjective) | bit(PartOfSpeech::noun);
    if (tag == "ad") return bit(PartOfSpeech::adjective) | bit(PartOfSpeech::adverb);
    switch (tag.front()) {
      case 'n':
        return bit(PartOfSpeech::noun);
      case 'v':
        return bit(PartOfSpeech::verb);
      case 'a':
        return bit(PartOfSpeech::adjective);
      case 'd':
        return bit(PartOfSpeech::adverb);
      default:
        return 0;
    }
  }

  static std::string withoutTo(std::string key) {
    if (key.starts_with("to ") && key.size() > 3) key.erase(0, 3);
    return key;
  }

  // Whether `text` holds `phrase` as whole words.
  static bool holdsWords(const std::string& text, const std::string& phrase) {
    for (std::size_t at = text.find(phrase); at != std::string::npos;
         at = text.find(phrase, at + 1)) {
      if ((at == 0 || text[at - 1] == ' ') &&
          (at + phrase.size() == text.size() || text[at + phrase.size()] == ' ')) {
        return true;
      }
    }
    return false;
  }

  // Whether gloss key `gloss` means what `text` does (both without "to"): the same word or a form
  // of it, a WordNet synonym in one of their commoner meanings, or a phrase that holds the text
  // ("computer bus").
  bool meansText(const std::string& gloss, const std::string& text) const {
    if (gloss.empty() || text.empty()) return false;
    return gloss == text || isFormOf(text, gloss) || isFormOf(gloss, text) ||
           synonymous(lexicon_, gloss, text, kSynonymMeanings) ||
           (gloss.size() > text.size() && holdsWords(gloss, text));
  }

  // `key` and the base forms it is an inflected form of ("altered": "alter").
  std::vector<std::string> baseForms(const std::string& key) const {
    std::vector<std::string> out{key};
    if (const auto found = bases_.find(key); found != bases_.end()) {
      out.insert(out.end(), found->second.begin(), found->second.end());
    }
    return out;
  }

  // How many longer words that contain word `i` are glossed with one of `texts` or its plural,
  // and how many with `meaning`: whether the dictionary uses the word for the text elsewhere as
  // much as for its first meaning (出口 "an exit; ...; to export" in 出口商 "exporter; export
  // business").
  std::pair<int, int> usesInCompounds(std::size_t i, const std::vector<std::string>& texts,
                                      const std::string& meaning) const {
    const auto found = containing_.find(entries_[i].simplified);
    if (found == containing_.end()) return {0, 0};
    std::vector<std::string> words = texts;
    for (const std::string& text : texts) {
      for (const std::string& plural : formsOf(text, Inflection::plural)) words.push_back(plural);
    }
    int forText = 0, forMeaning = 0;
    for (std::size_t j : found->second) {
      bool text = false, other = false;
      for (const auto& sense : dictionary_.clean(j).senses) {
        for (const Gloss& gloss : sense) {
          const std::string key = englishKey(gloss.text);
          text = text || std::any_of(words.begin(), words.end(), [&](const std::string& word) {
                   return holdsWords(key, word);
                 });
          other = other || (!meaning.empty() && holdsWords(key, meaning));
        }
      }
      forText += text;
      forMeaning += other;
    }
    return {forText, forMeaning};
  }

  // Whether a word other than word `i` is glossed with both `meaning` and one of `texts`: the
  // dictionary has the two for one sense elsewhere ("order" and "command" for 指令, so 命令
  // "order; command" means both).
  bool glossedTogether(std::size_t i, const std::string& meaning,
                       const std::vector<std::string>& texts) const {
    const auto withMeaning = glossed_.find(meaning);
    if (withMeaning == glossed_.end()) return false;
    for (const std::string& text : texts) {
      const auto withText = glossed_.find(text);
      if (withText == glossed_.end()) continue;
      for (std::size_t j : withMeaning->second) {
        if (entries_[j].simplified != entries_[i].simplified &&
            std::binary_search(withText->second.begin(), withText->second.end(), j)) {
          return true;
        }
      }
    }
    return false;
  }

  // Whether candidate `c` for `key` stands in a later sense of a word whose earlier senses mean
  // something else, with no evidence that the later sense is a common use of the word: "reason"
  // for 说道 "to discuss; reason (behind sth)", "bus" for 汽车 "car; automobile; bus". Evidence
  // that it is: an earlier gloss that means the text (see meansText); the corpus tagging the word
  // as the later sense's part of speech and not the first's (错误 "mistaken; error", a noun);
  // longer words that use the word for the text at least as often as for its first meaning; or
  // another word glossed with both the first meaning and the text.
  bool secondary(const Candidate& c, const std::string& key) const {
    if (c.sense == 0 || c.computing) return false;
    const auto& senses = dictionary_.clean(c.entry).senses;
    if (c.sense >= senses.size() || c.gloss >= senses[c.sense].size()) return false;
    // WordNet tells meanings of words apart, not of phrases it does not hold ("to overdo it").
    const std::string text = withoutTo(key);
    if (text.find(' ') != std::string::npos && !isLemma(text)) return false;
    const std::vector<std::string> texts = baseForms(text);
    std::vector<std::string> earlier;
    for (std::size_t s = 0; s < c.sense; ++s) {
      for (const Gloss& gloss : senses[s]) {
        if (gloss.kind == GlossKind::literal) continue;
        const std::string meaning = withoutTo(englishKey(gloss.text));
        for (const std::string& text : texts) {
          if (meansText(meaning, text)) return false;
        }
        earlier.push_back(meaning);
      }
    }
    if (earlier.empty()) return false;
    const std::uint8_t tagged = partsOfTag(tagOf(entries_[c.entry].simplified));
    const std::uint8_t first = partsOfSpeech(englishKey(senses[0].front().text));
    const std::uint8_t later = partsOfSpeech(englishKey(senses[c.sense][c.gloss].text));
    if ((tagged & later) != 0 && first != 0 && (tagged & first) == 0) return false;
    const auto [forText, forMeaning] = usesInCompounds(c.entry, texts, earlier.front());
    if (forText > 0 && forText >= forMeaning) return false;
    return !glossedTogether(c.entry, earlier.front(), texts);
  }

  // Every gloss of every word's own senses is a candidate translation of the gloss's key, and
  // of the keys of its forms.
  std::map<std::string, std::vector<Candidate>> candidates() const {
    std::map<std::string, std::vector<Candidate>> candidates;
    std::map<std::string, std::vector<Candidate>> plurals;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      const DictionaryEntry& entry = entries_[i];
      if (!containsHan(entry.simplified)) continue;
      const std::uint64_t frequency = frequencyOf(entry.simplified);
      // A place's short name that only refers to its full one (四川, "see 四川省") answers
      // the full one's English without the kind of place ("Sichuan" of "Sichuan Province").
      const bool shortName = shortNameFor(i);
      const std::vector<std::vector<Gloss>> referred =
          shortName ? dictionary_.sensesOf(i) : std::vector<std::vector<Gloss>>();
      const auto& senses = shortName ? referred : dictionary_.clean(i).senses;
      // A rare word is trusted only for its first sense, and only when it has few: a name or
      // term, not a rare word with a spread of meanings ("to make sense; passable; acceptable").
      const bool rare = frequency < kRareWord;
      const bool spread = rare && senses.size() > 2;
      const bool rareCharacter = rare && hasRareCharacter(entry.simplified);
      // A single character with a proper-name reading is a surname or an abbreviation
      // (加 for Canada), never the name itself.
      const bool singleCharacter = countCodePoints(entry.simplified) == 1;
      if (singleCharacter && dictionary_.clean(i).properName) continue;
      if (dictionary_.clean(i).erhua) continue;
      // Of a word's readings only the main one (with the most senses) is offered: the count
      // covers them all, and mostly the main one.
      if (!isMainReading(i)) continue;
      const std::string_view tag = tagOf(entry.simplified);
      const bool nounTag = !tag.empty() && tag.front() == 'n';
      // Used as a noun: a noun, or a verb often used as one ("vn").
      const bool nounUse = nounTag || tag == "vn";
      const bool contentWord = kFunctionTags.count(tag) == 0;
      // A character counted mostly as a function word (吧 as a particle, 正 as "just now") is
      // no sure answer for the content word it also glosses ("bar", "straight").
      if (singleCharacter && !contentWord) continue;
      // Only a noun has a plural; a word with no tag may be one, and so may a measure word of
      // more than one character (公斤 "kilogram").
      const bool nounish = tag.empty() || nounUse || (tag == "q" && !singleCharacter);
      for (std::size_t s = 0; s < senses.size(); ++s) {
        for (std::size_t g = 0; g < senses[s].size(); ++g) {
          const Gloss& gloss = senses[s][g];
          // A computing sense, wherever it stands, is what a word selected in a program's
          // interface means ("(computing) to save (a file etc)" for 保存).
          const bool computing =
              gloss.computing && !singleCharacter &&
              (gloss.kind == GlossKind::general || gloss.kind == GlossKind::narrowed);
          // Beyond its first sense a character is too often a bound or literary form, and
          // beyond its first gloss one of several uses ("to add; to attach; to be close to").
          const bool inWindow = !spread && s <= kLatestSense &&
                                g <= (singleCharacter ? 0 : kLatestGloss) &&
                                !((rare || singleCharacter) && s > 0) && !(rare && g > 0);
          if (!inWindow && !computing) continue;
          // Literary, regional or slang uses are no answer to a plain English word, nor is a
          // narrowed one unless it is the word's first meaning ("(computing) submenu").
          const bool narrowed = gloss.kind == GlossKind::narrowed;
          if (!computing && gloss.kind != GlossKind::general && !(narrowed && s == 0 && g == 0)) {
            continue;
          }
          const std::string key = englishKey(gloss.text);
          if (key.empty()) continue;
          const bool verbGloss = key.starts_with("to ") && key.size() > 3;
          // An idiom translates a phrase, not a single English word.
          if (dictionary_.clean(i).idiom && key.find(' ', verbGloss ? 3 : 0) == std::string::npos) {
            continue;
          }
          // A rare word written with a rare character is literary or obsolete (祓饰 "to
          // refresh"): it answers only a name or a term of several words, not a common word.
          if (rareCharacter && !dictionary_.clean(i).properName &&
              key.find(' ', verbGloss ? 3 : 0) == std::string::npos) {
            continue;
          }
          const bool primary = s == 0 && g == 0;
          const double score = std::log10(static_cast<double>(frequency) + 1.0) -
                               (computing ? -kComputingBonus
                                          : kSensePenalty * double(s) + kGlossPenalty * double(g) +
                                                (narrowed ? kNarrowedPenalty : 0.0)) -
                               (singleCharacter ? kSingleCharacterPenalty : 0.0);
          // A verb gloss on a word mostly used as a noun (著作 "to write; writings").
          const double verbScore = score - (nounTag && verbGloss ? kPartOfSpeechPenalty : 0.0);
          // A word mostly used as a verb ("cut", "save") is the verb before any noun or
          // adjective spelt alike.
          const double directScore =
              verbGloss ? verbScore : score - (mostlyVerb(lexicon_, key) ? kBareVerbPenalty : 0.0);
          // A short name answers its full name's bare name, not its full name (四川 is "Sichuan",
          // 四川省 "Sichuan Province").
          if (!shortName || !namesKindOfPlace(key)) {
            candidates[key].push_back({directScore, i, primary, s, g, computing});
          }
          // A verb gloss that is its first meaning makes a verb of a word tagged otherwise (对齐
          // "to align", tagged as an adverb).
          if (!contentWord && !(verbGloss && primary)) continue;
          // Chinese nouns have no plural: the plural of a noun's gloss (no verb or name) answers
          // as the gloss does, beside the words glossed with the plural itself.
          if (!verbGloss && nounish &&
              !std::isupper(static_cast<unsigned char>(gloss.text.front()))) {
            for (const std::string& plural : formsOf(key, Inflection::plural)) {
              // Not of a gloss mostly used as an adjective ("special", "alert"), nor a plural in
              // "-ings" that is a word of its own ("savings" is not 节省 "saving").
              if (mostlyAdjective(lexicon_, key) || (key.ends_with("ing") && isLemma(plural))) {
                continue;
              }
              plurals[plural].push_back({score, i, primary, s, g, computing});
            }
          }
          if (verbGloss) {
            const std::string bare = key.substr(3);
            // A verb ("to open") also answers its bare form ("open"), after any noun or
            // adjective of that form.
            const double barePenalty = mostlyVerb(lexicon_, bare) ? 0.0 : kBareVerbPenalty;
            candidates[bare].push_back({verbScore - barePenalty, i, false, s, g, computing});
            // And its past forms and participles ("opened", "sent", "opening"), after any word
            // glossed so. A word used as a noun is the noun in "-ing" too ("warning" for 警告
            // "to warn").
            if (singleCharacter || kAuxiliaries.count(bare) != 0) continue;
            const double derivedPenalty = kDerivedFormPenalty + kBareVerbPenalty;
            for (const std::string& participle : formsOf(bare, Inflection::presentParticiple)) {
              // The word is also the noun in "-ing" when the corpus mostly uses it as a noun or
              // the dictionary glosses it so too (设定 "to set; ...; setting").
              const bool noun = nounUse || glosses(i, participle);
              candidates[participle].push_back(
                  {noun ? score : score - derivedPenalty, i, false, s, g, computing});
              if (!noun) continue;
              // That noun has a plural, unless the plural is a word of its own ("savings",
              // "findings").
              for (const std::string& plural : formsOf(participle, Inflection::plural)) {
                if (!isLemma(plural)) plurals[plural].push_back({score, i, false, s, g, computing});
              }
            }
            for (const std::string& past : formsOf(bare, Inflection::past)) {
              candidates[past].push_back(
                  {verbScore - kDerivedFormPenalty, i, false, s, g, computing});
            }
          }
          // Likewise a language ("Korean language") answers its bare name ("Korean"), and a
          // place its name without what kind of place it is ("Beijing municipality").
          for (std::string_view kind : kKindsOfName) {
            if (key.ends_with(kind) && key.size() > kind.size() &&
                (kind == " language" || dictionary_.clean(i).properName)) {
              candidates[key.substr(0, key.size() - kind.size())].push_back(
                  {score - kBareVerbPenalty, i, false, s, g, computing});
            }
          }
        }
      }
    }
    for (auto& [key, list] : plurals) {
      auto& merged = candidates[key];
      for (Candidate candidate : list) {
        candidate.score -= kPluralPenalty;
        merged.push_back(candidate);
      }
    }
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
    // A computing sense deep in the entry of a common word (运作 "to operate; ...; thread
    // (computing)") gives way to a word that has it for its first meaning (线程): the common
    // word's count is that of its other senses.
    if (words[0]->computing && words[0]->sense >= kDeepSense) {
      for (const Candidate* other : words) {
        if (other->computing && other->primary &&
            countCodePoints(entries_[other->entry].simplified) > 1) {
          return entries_[other->entry].simplified;
        }
      }
    }
    // A later sense of a word that means something else first is no sure answer.
    if (secondary(*words[0], key)) return std::nullopt;
    const std::size_t first = words[0]->entry;
    if (words.size() > 1 && words[1]->score >= words[0]->score - kAmbiguousMargin &&
        words[0]->primary && words[1]->primary &&
        countCodePoints(entries_[first].simplified) == 1 &&
        countCodePoints(entries_[words[1]->entry].simplified) > 1) {
      // A character about as likely as a word, each first meaning the text: the word, as the
      // character's count covers its uses in other senses and words (嘈杂 rather than 闹 for
      // "noisy", 太阳 rather than 日 for "sun").
      return entries_[words[1]->entry].simplified;
    }
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
  const EnglishLexicon& lexicon_;
  const std::unordered_map<std::string, std::vector<InflectedForm>> forms_;
  // Each inflected form's base forms.
  std::unordered_map<std::string, std::vector<std::string>> bases_;
  // The entries that give each gloss (its key without "to "), in order.
  std::unordered_map<std::string, std::vector<std::size_t>> glossed_;
  // The entries whose Simplified headword holds each shorter word of two characters or more.
  std::unordered_map<std::string, std::vector<std::size_t>> containing_;
};

}  // namespace

std::map<std::string, std::string> englishAnswers(const CleanDictionary& dictionary,
                                                  const WordFrequencies& frequencies,
                                                  const WordTags& tags,
                                                  const EnglishLexicon& lexicon) {
  return EnglishAnswers(dictionary, frequencies, tags, lexicon).build();
}

}  // namespace talvori
