#include "tools/dictionary_index/dictionary_builder.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <set>
#include <utility>

#include "base/utf8.h"
#include "platform/dictionary/dictionary_text.h"

namespace talvori {

namespace {

// Phrases that open a sense referring to another entry. The referred entry stands right after.
constexpr std::array<std::string_view, 6> kReferencePhrases = {
    "variant of ", "same as ", "see also ", "see ", "also written ", "abbr. for "};

// Notes in parentheses that mark a gloss as outside plain present-day use.
constexpr std::array<std::string_view, 24> kQualifiers = {
    "literary",  "old",      "archaic",         "arch.",          "dialect",   "cantonese",
    "tw",        "hk",       "slang",           "internet slang", "vulgar",    "derog.",
    "classical", "obsolete", "in former times", "taiwanese",      "hokkien",   "shanghainese",
    "euphemism", "jocular",  "bound form",      "onom.",          "old usage", "formal"};

// Word spellings the dictionary abbreviates.
constexpr std::array<std::pair<std::string_view, std::string_view>, 5> kAbbreviations = {
    {{"sth", "something"},
     {"sb", "somebody"},
     {"sb's", "somebody's"},
     {"esp.", "especially"},
     {"esp", "especially"}}};

std::string lowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string_view trimSpaces(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

// Pieces of `text` cut at `separator` where no parenthesis or bracket is open.
std::vector<std::string_view> splitOutside(std::string_view text, char separator) {
  std::vector<std::string_view> pieces;
  int depth = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '(' || c == '[') ++depth;
    if ((c == ')' || c == ']') && depth > 0) --depth;
    if (c == separator && depth == 0) {
      pieces.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  pieces.push_back(text.substr(start));
  return pieces;
}

// The referred entry at the start of `text`: "是[shi4]", "打傘|打伞[da3 san3]" or a bare
// headword; gives it and how many bytes it took.
std::pair<Reference, std::size_t> readReference(std::string_view text) {
  std::size_t end = 0;
  while (end < text.size() && text[end] != '[' && text[end] != ' ' && text[end] != ',' &&
         text[end] != ';' && text[end] != ')' && text[end] != '(') {
    ++end;
  }
  std::string_view headword = text.substr(0, end);
  if (const std::size_t bar = headword.find('|'); bar != std::string_view::npos) {
    headword.remove_prefix(bar + 1);
  }
  Reference reference{std::string(headword), ""};
  if (end < text.size() && text[end] == '[') {
    const std::size_t close = text.find(']', end);
    if (close != std::string_view::npos) {
      reference.pinyin = std::string(text.substr(end + 1, close - end - 1));
      end = close + 1;
    }
  }
  return {std::move(reference), end};
}

// A gloss without its notes in parentheses and its pinyin in brackets; gives the notes apart.
std::string stripNotes(std::string_view text, std::vector<std::string>& notes) {
  std::string out;
  int depth = 0;
  std::string note;
  for (const char c : text) {
    if (c == '(' || c == '[') {
      if (depth++ == 0) note.clear();
      continue;
    }
    if ((c == ')' || c == ']') && depth > 0) {
      if (--depth == 0)
        notes.push_back(lowerAscii(trimSpaces(note)));
      else
        note += c;
      continue;
    }
    if (depth > 0) {
      note += c;
    } else {
      out += c;
    }
  }
  return out;
}

bool isQualifier(const std::string& note) {
  for (std::string_view qualifier : kQualifiers) {
    if (note == qualifier) return true;
  }
  // "Beijing dialect", "Internet slang", "old usage", "literary, also pr. ...".
  for (std::string_view word : {"dialect", "slang", "literary", "archaic", "old ", "cantonese"}) {
    if (note.find(word) != std::string::npos) return true;
  }
  return false;
}

// Notes that open a gloss and only say how plainly it is used: the gloss is no narrower.
constexpr std::array<std::string_view, 6> kPlainNotes = {"idiom", "fig.",     "lit. and fig.",
                                                         "coll.", "loanword", "abbr."};

bool isPlainNote(const std::string& note) {
  return std::find(kPlainNotes.begin(), kPlainNotes.end(), note) != kPlainNotes.end();
}

// "(used by an emperor)", "(before a number)", "(of eyes)": a use narrower than the bare gloss.
bool isNarrowing(const std::string& note) {
  for (std::string_view narrowing :
       {"used ", "before ", "after ", "followed by", "as ", "of ", "in "}) {
    if (note.starts_with(narrowing)) return true;
  }
  return false;
}

// Spells out abbreviations and makes white space single, trimming spaces and trailing commas.
std::string tidy(std::string_view text) {
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == ' ') {
      if (!out.empty() && out.back() != ' ') out += ' ';
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < text.size() && text[end] != ' ') ++end;
    std::string_view word = text.substr(i, end - i);
    // "yuan (RMB), currency" loses its note: no space stays before the comma.
    if (!out.empty() && out.back() == ' ' && (word.starts_with(",") || word.starts_with(";"))) {
      out.pop_back();
    }
    std::size_t cut = word.size();
    while (cut > 0 && (word[cut - 1] == ',' || word[cut - 1] == ':' || word[cut - 1] == ';')) --cut;
    const std::string_view tail = word.substr(cut);
    word = word.substr(0, cut);
    bool replaced = false;
    for (const auto& [abbreviation, spelt] : kAbbreviations) {
      if (word == abbreviation) {
        out += spelt;
        replaced = true;
        break;
      }
    }
    if (!replaced) out += word;
    out += tail;
    i = end;
  }
  std::string_view result = trimSpaces(out);
  while (!result.empty() &&
         (result.back() == ',' || result.back() == ':' || result.back() == ' ')) {
    result.remove_suffix(1);
  }
  while (!result.empty() && (result.front() == ',' || result.front() == ' ')) {
    result.remove_prefix(1);
  }
  return std::string(result);
}

bool hasLetter(std::string_view text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return std::isalpha(static_cast<unsigned char>(c)); });
}

// Glosses longer than this many words describe a use rather than translate it.
constexpr std::size_t kMaxGlossWords = 10;

std::size_t wordCount(std::string_view text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), ' ')) + 1;
}

// `senseNotes` are the notes that open the whole sense, such as "(literary)"; they mark every
// gloss of it.
std::optional<Gloss> cleanGloss(std::string_view text, const std::vector<std::string>& senseNotes) {
  text = trimSpaces(text);
  Gloss gloss;
  if (text.starts_with("lit. ")) {
    gloss.kind = GlossKind::literal;
    text.remove_prefix(5);
  } else if (text.starts_with("fig. ")) {
    text.remove_prefix(5);
  }
  if (text.starts_with("classifier for") || text.starts_with("CL:") ||
      text.starts_with("Taiwan pr.") || text.starts_with("also pr.") || text.starts_with("pr. ") ||
      text.starts_with("used in ")) {
    return std::nullopt;
  }
  std::vector<std::string> notes = senseNotes;
  // A note before the gloss sets its field or use ("(computing) zombie"); one after it mostly
  // says what a name names ("Bolton (town in England)").
  const std::size_t leadingNotes = notes.size() + (text.starts_with("(") ? 1 : 0);
  std::string plain = stripNotes(text, notes);
  for (std::size_t n = 0; n < notes.size(); ++n) {
    const std::string& note = notes[n];
    // "completely (not)": without its note the gloss would say the opposite.
    if (note == "not" || note == "negative") return std::nullopt;
    if (gloss.kind == GlossKind::literal) continue;
    if (isQualifier(note)) {
      gloss.kind = GlossKind::qualified;
    } else if (gloss.kind == GlossKind::general &&
               (isNarrowing(note) || (n < leadingNotes && !isPlainNote(note)))) {
      gloss.kind = GlossKind::narrowed;
    }
  }
  if (containsHan(plain) || plain.find('~') != std::string::npos) return std::nullopt;
  // "about ...": a pattern to fill in, not a word.
  if (plain.find("...") != std::string::npos && gloss.kind != GlossKind::literal) {
    gloss.kind = GlossKind::qualified;
  }
  // "Fiji, a country in the southwest Pacific Ocean": the description after the name goes.
  for (std::string_view apposition : {", a ", ", an ", ", the ", ", one of "}) {
    const std::size_t at = plain.find(apposition);
    if (at != std::string::npos && at > 0) plain.erase(at);
  }
  gloss.text = tidy(plain);
  if (gloss.text.starts_with("lit. ")) {
    gloss.kind = GlossKind::literal;
    gloss.text.erase(0, 5);
  } else if (gloss.text.starts_with("fig. ")) {
    gloss.text.erase(0, 5);
  }
  if (!hasLetter(gloss.text)) return std::nullopt;
  if (gloss.kind != GlossKind::literal && wordCount(gloss.text) > kMaxGlossWords) {
    gloss.kind = GlossKind::qualified;
  }
  return gloss;
}

}  // namespace

CleanSense cleanSense(std::string_view sense) {
  CleanSense clean;
  std::string_view text = trimSpaces(sense);
  // A reference may follow notes such as "(archaic)", and one word such as "old" or "erhua" may
  // stand before "variant of"; what follows an abbreviation's reference is still a gloss.
  std::string_view body = text;
  while (body.starts_with("(")) {
    const std::size_t close = body.find(')');
    if (close == std::string_view::npos) break;
    body = trimSpaces(body.substr(close + 1));
  }
  for (std::string_view phrase : kReferencePhrases) {
    std::size_t at = body.find(phrase);
    const bool opens =
        at == 0 || (at != std::string_view::npos && phrase == "variant of " &&
                    body.substr(0, at).find_first_of(";,") == std::string_view::npos &&
                    std::count(body.begin(), body.begin() + at, ' ') <= 1);
    if (!opens) continue;
    const std::string_view rest = body.substr(at + phrase.size());
    auto [reference, used] = readReference(rest);
    if (!containsHan(reference.headword)) continue;
    clean.reference = std::move(reference);
    if (phrase != "abbr. for ") return clean;
    text = rest.substr(used);
    while (!text.empty() && (text.front() == ',' || text.front() == ' ')) text.remove_prefix(1);
    break;
  }
  // Notes that open the sense, before its first gloss, hold for all of its glosses.
  std::vector<std::string> senseNotes;
  const std::vector<std::string_view> pieces = splitOutside(text, ';');
  if (pieces.size() > 1) {
    std::string_view first = trimSpaces(pieces.front());
    while (first.starts_with("(")) {
      const std::size_t close = first.find(')');
      if (close == std::string_view::npos) break;
      senseNotes.push_back(lowerAscii(trimSpaces(first.substr(1, close - 1))));
      first = trimSpaces(first.substr(close + 1));
    }
  }
  for (std::string_view piece : pieces) {
    if (std::optional<Gloss> gloss = cleanGloss(piece, senseNotes)) {
      clean.glosses.push_back(std::move(*gloss));
    }
  }
  return clean;
}

namespace {

constexpr std::size_t kMaxEnglishGlosses = 3;
constexpr std::size_t kMaxReferenceDepth = 2;

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

struct CleanEntry {
  std::vector<std::vector<Gloss>> senses;  // the senses that kept glosses, in order
  std::vector<Reference> references;
  bool properName = false;
  bool idiom = false;  // a set phrase: one of its senses is marked "(idiom)"
};

std::string lowerPinyin(std::string_view pinyin) {
  std::string out;
  for (char c : pinyin) {
    if (c != ' ') out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return out;
}

class Builder {
 public:
  Builder(const std::vector<DictionaryEntry>& entries, const WordFrequencies& frequencies,
          const WordTags& tags)
      : entries_(entries), frequencies_(frequencies), tags_(tags) {
    clean_.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const DictionaryEntry& entry = entries[i];
      CleanEntry clean;
      clean.properName =
          !entry.pinyin.empty() && std::isupper(static_cast<unsigned char>(entry.pinyin.front()));
      for (const std::string& sense : entry.senses) {
        clean.idiom = clean.idiom || sense.find("(idiom)") != std::string::npos;
        CleanSense cleaned = cleanSense(sense);
        // A name's gloss says after a comma where or what it is ("Florence, Italy").
        for (Gloss& gloss : cleaned.glosses) {
          const std::size_t comma = gloss.text.find(", ");
          if (clean.properName && comma != std::string::npos) gloss.text.erase(comma);
        }
        if (!cleaned.glosses.empty()) clean.senses.push_back(std::move(cleaned.glosses));
        if (cleaned.reference) clean.references.push_back(std::move(*cleaned.reference));
      }
      clean_.push_back(std::move(clean));
      for (const std::string& form : {entry.simplified, entry.traditional}) {
        const std::string key = chineseKey(form);
        if (key.empty()) continue;
        auto& list = byHeadword_[key];
        if (list.empty() || list.back() != i) list.push_back(i);
      }
    }
  }

  DictionaryAnswers build() {
    DictionaryAnswers answers;
    for (const auto& [key, list] : byHeadword_) {
      std::string english = englishFor(list);
      if (!english.empty()) answers.chinese.emplace(key, std::move(english));
    }
    addLanguageSpellings(answers.chinese);
    buildEnglish(answers.english);
    return answers;
  }

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
      if (!clean_[i].properName || !language) continue;
      for (const std::string& form : {entries_[i].simplified, entries_[i].traditional}) {
        const std::string key = chineseKey(form);
        const auto found = chinese.find(key);
        if (found == chinese.end()) continue;
        // 壮语 is the Zhuang language and "magnificent talk": its answer may be either.
        const auto& readings = byHeadword_.at(key);
        if (!std::all_of(readings.begin(), readings.end(),
                         [&](std::size_t j) { return clean_[j].properName; })) {
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

 private:
  // The glosses of entry `i`, or those of the entry it refers to when it has none of its own.
  std::vector<std::vector<Gloss>> sensesOf(std::size_t i, std::size_t depth = 0) const {
    if (!clean_[i].senses.empty() || depth >= kMaxReferenceDepth) return clean_[i].senses;
    for (const Reference& reference : clean_[i].references) {
      const auto found = byHeadword_.find(chineseKey(reference.headword));
      if (found == byHeadword_.end()) continue;
      std::optional<std::size_t> target;
      for (std::size_t j : found->second) {
        if (j == i) continue;
        if (!target) target = j;
        if (!reference.pinyin.empty() &&
            lowerPinyin(entries_[j].pinyin) == lowerPinyin(reference.pinyin)) {
          target = j;
          break;
        }
      }
      if (target) {
        auto senses = sensesOf(*target, depth + 1);
        if (!senses.empty()) return senses;
      }
    }
    return {};
  }

  // The English for the entries sharing a headword: one entry's glosses, the general ones
  // first. Entries with a general gloss come before those without; then common words before
  // proper names; then the entry with more general glosses; then dictionary order.
  std::string englishFor(const std::vector<std::size_t>& list) const {
    std::vector<std::vector<Gloss>> best;
    std::tuple<bool, bool, std::size_t> bestRank{false, false, 0};
    for (std::size_t i : list) {
      std::vector<std::vector<Gloss>> senses = sensesOf(i);
      if (senses.empty()) continue;
      std::size_t general = 0;
      for (auto& sense : senses) {
        for (Gloss& gloss : sense) {
          // A narrowed gloss still translates the word; its note was only for the way back.
          if (gloss.kind == GlossKind::narrowed) gloss.kind = GlossKind::general;
          general += gloss.kind == GlossKind::general;
        }
      }
      const std::tuple<bool, bool, std::size_t> rank{general > 0, !clean_[i].properName, general};
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

  bool isMainReading(std::size_t i) const {
    const auto found = byHeadword_.find(chineseKey(entries_[i].simplified));
    if (found == byHeadword_.end()) return true;
    for (std::size_t j : found->second) {
      if (j != i && entries_[j].simplified == entries_[i].simplified &&
          clean_[j].senses.size() > clean_[i].senses.size()) {
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
    const auto& senses = clean_[i].senses;
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

  void buildEnglish(std::map<std::string, std::string>& out) const {
    // Every gloss of every word's own senses is a candidate translation of the gloss's key.
    std::map<std::string, std::vector<Candidate>> candidates;
    std::map<std::string, std::vector<Candidate>> plurals;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      const DictionaryEntry& entry = entries_[i];
      if (!containsHan(entry.simplified)) continue;
      const std::uint64_t frequency = frequencyOf(entry.simplified);
      const auto& senses = clean_[i].senses;
      // A rare word is trusted only for its first sense, and only when it has few: a name or
      // term, not a rare word with a spread of meanings ("to make sense; passable; acceptable").
      const bool rare = frequency < kRareWord;
      if (rare && senses.size() > 2) continue;
      const bool rareCharacter = rare && hasRareCharacter(entry.simplified);
      // A single character with a proper-name reading is a surname or an abbreviation
      // (加 for Canada), never the name itself.
      const bool singleCharacter = countCodePoints(entry.simplified) == 1;
      if (singleCharacter && clean_[i].properName) continue;
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
          if (clean_[i].idiom && key.find(' ', verbGloss ? 3 : 0) == std::string::npos) continue;
          if (rare && g > 0) continue;
          // A rare word written with a rare character is literary or obsolete (祓饰 "to
          // refresh"): it answers only a name or a term of several words, not a common word.
          if (rareCharacter && !clean_[i].properName &&
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
    for (auto& [key, list] : candidates) {
      // Prepositions and the like say too little alone: "by" is 被, 由, 到, 截至 ...
      if (kVagueWords.count(key) != 0) continue;
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
          continue;
        }
        // A second word only when it is about as common and the gloss is its first meaning too.
        if (words[1]->score >= words[0]->score - kSecondMargin && words[1]->primary &&
            words[0]->primary && countCodePoints(entries_[second].simplified) > 1) {
          answer += "；" + entries_[second].simplified;
        }
      }
      out.emplace(key, std::move(answer));
    }
  }

  const std::vector<DictionaryEntry>& entries_;
  const WordFrequencies& frequencies_;
  const WordTags& tags_;
  std::vector<CleanEntry> clean_;
  std::map<std::string, std::vector<std::size_t>> byHeadword_;
};

}  // namespace

DictionaryAnswers buildAnswers(const std::vector<DictionaryEntry>& entries,
                               const WordFrequencies& frequencies, const WordTags& tags) {
  return Builder(entries, frequencies, tags).build();
}

}  // namespace talvori
