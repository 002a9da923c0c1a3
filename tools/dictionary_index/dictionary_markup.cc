#include "tools/dictionary_index/dictionary_markup.h"

#include <algorithm>
#include <array>
#include <cctype>
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

// "(computing)", "(software)", "(on keyboard)", "(as in "copy and paste")": a gloss for the sense
// a word has in a program.
bool isComputingNote(const std::string& note) {
  for (std::string_view word : {"computing", "computer", "software", "keyboard", "copy and paste",
                                "cut-and-paste", "web browser", "email", "a file"}) {
    if (note.find(word) != std::string::npos) return true;
  }
  return false;
}

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
    // "completely (not)", "(usually used in the negative) (can't) hurt": without its note the
    // gloss would say the opposite.
    if (note == "not" || note.find("negative") != std::string::npos ||
        note.find("n't") != std::string::npos) {
      return std::nullopt;
    }
    gloss.computing = gloss.computing || isComputingNote(note);
    if (gloss.kind == GlossKind::literal) continue;
    if (isQualifier(note)) {
      gloss.kind = GlossKind::qualified;
    } else if (gloss.kind == GlossKind::general &&
               (isNarrowing(note) || (n < leadingNotes && !isPlainNote(note)))) {
      gloss.kind = GlossKind::narrowed;
    }
  }
  // "Sichuan Province, capital Chengdu 成都市": a name's description, which may hold Chinese,
  // goes.
  const std::size_t comma = plain.find(", ");
  if (comma != std::string::npos && std::isupper(static_cast<unsigned char>(plain.front())) &&
      !containsHan(plain.substr(0, comma)) && containsHan(plain.substr(comma))) {
    plain.erase(comma);
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

constexpr std::size_t kMaxReferenceDepth = 2;

// Whether `text` lists names ("Yunnan, Guizhou and Sichuan", "Shaanxi, Qinghai and Gansu
// provinces") rather than giving a name and what it is ("Florence, Italy", "Mogadishu, Indian
// ocean seaport and capital of Somalia"): after its first comma only capitalised words up to an
// "and", and a capitalised word after it.
bool listsNames(std::string_view text) {
  const std::size_t comma = text.find(", ");
  if (comma == std::string_view::npos) return false;
  const std::size_t conjunction = text.find(" and ", comma);
  if (conjunction == std::string_view::npos) return false;
  const auto capitalised = [&](std::size_t at) {
    return at < text.size() && std::isupper(static_cast<unsigned char>(text[at]));
  };
  for (std::size_t at = comma + 1; at < conjunction; at = text.find(' ', at + 1)) {
    if (!capitalised(at + 1)) return false;
  }
  return capitalised(conjunction + 5);
}

std::string lowerPinyin(std::string_view pinyin) {
  std::string out;
  for (char c : pinyin) {
    if (c != ' ') out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return out;
}

}  // namespace

CleanDictionary::CleanDictionary(const std::vector<DictionaryEntry>& entries) : entries_(entries) {
  clean_.reserve(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const DictionaryEntry& entry = entries[i];
    CleanEntry clean;
    clean.properName =
        !entry.pinyin.empty() && std::isupper(static_cast<unsigned char>(entry.pinyin.front()));
    clean.erhua = entry.pinyin.ends_with("r5") && entry.simplified.ends_with("儿");
    for (const std::string& sense : entry.senses) {
      clean.idiom = clean.idiom || sense.find("(idiom)") != std::string::npos ||
                    (countCodePoints(entry.simplified) == 4 && sense.starts_with("lit. "));
      CleanSense cleaned = cleanSense(sense);
      // A name's gloss says after a comma where or what it is ("Florence, Italy"), unless it
      // lists names.
      for (Gloss& gloss : cleaned.glosses) {
        const std::size_t comma = gloss.text.find(", ");
        if (clean.properName && comma != std::string::npos && !listsNames(gloss.text)) {
          gloss.text.erase(comma);
        }
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

std::vector<std::vector<Gloss>> CleanDictionary::sensesOf(std::size_t i, std::size_t depth) const {
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

}  // namespace talvori
