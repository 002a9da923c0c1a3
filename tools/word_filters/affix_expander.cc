#include "tools/word_filters/affix_expander.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include <unicode/uchar.h>

#include "base/utf8.h"

namespace talvori {
namespace {

using Flags = std::vector<std::string>;

enum class FlagKind { kByte, kLong, kNumber, kUtf8 };

// The code points of `s`; an ill-formed sequence stands for U+FFFD.
std::u32string decode(std::string_view s) {
  std::u32string out;
  for (size_t i = 0; i < s.size();) {
    const std::int32_t c = decodeUtf8(s, i);
    out.push_back(c == kIllFormed ? U'\uFFFD' : static_cast<char32_t>(c));
  }
  return out;
}

std::string encode(std::u32string_view s) {
  std::string out;
  for (char32_t c : s) appendUtf8(c, out);
  return out;
}

Flags parseFlags(std::string_view s, FlagKind kind) {
  Flags flags;
  switch (kind) {
    case FlagKind::kByte:
      for (char c : s) flags.emplace_back(1, c);
      break;
    case FlagKind::kLong:
      for (size_t i = 0; i + 1 < s.size(); i += 2) flags.emplace_back(s.substr(i, 2));
      break;
    case FlagKind::kNumber: {
      size_t begin = 0;
      while (begin < s.size()) {
        size_t end = s.find(',', begin);
        if (end == std::string_view::npos) end = s.size();
        if (end > begin) flags.emplace_back(s.substr(begin, end - begin));
        begin = end + 1;
      }
      break;
    }
    case FlagKind::kUtf8:
      for (char32_t c : decode(s)) flags.push_back(encode(std::u32string(1, c)));
      break;
  }
  return flags;
}

bool has(const Flags& flags, const std::string& flag) {
  return !flag.empty() && std::find(flags.begin(), flags.end(), flag) != flags.end();
}

// One position of an affix condition: any character, or a set of characters, possibly negated.
struct Atom {
  bool any = false;
  bool negated = false;
  std::u32string chars;
  bool matches(char32_t c) const {
    if (any) return true;
    return (chars.find(c) != std::u32string::npos) != negated;
  }
};

std::vector<Atom> parseCondition(std::u32string_view s) {
  std::vector<Atom> atoms;
  if (s == U".") return atoms;
  for (size_t i = 0; i < s.size(); ++i) {
    Atom atom;
    if (s[i] == U'.') {
      atom.any = true;
    } else if (s[i] == U'[') {
      size_t end = s.find(U']', i);
      if (end == std::u32string_view::npos) end = s.size();
      std::u32string_view inside = s.substr(i + 1, end - i - 1);
      if (!inside.empty() && inside[0] == U'^') {
        atom.negated = true;
        inside.remove_prefix(1);
      }
      atom.chars = inside;
      i = end;
    } else {
      atom.chars = std::u32string(1, s[i]);
    }
    atoms.push_back(std::move(atom));
  }
  return atoms;
}

struct Affix {
  bool prefix = false;
  bool cross = false;
  std::u32string strip;
  std::u32string add;
  Flags continuation;
  std::vector<Atom> condition;

  // Whether the rule applies to `word`: it ends (suffix) or begins (prefix) with the condition and
  // the strip, and something is left.
  bool appliesTo(std::u32string_view word) const {
    if (word.size() < strip.size() || word.size() < condition.size()) return false;
    if (word.size() == strip.size() && add.empty()) return false;
    if (prefix) {
      if (word.substr(0, strip.size()) != strip) return false;
      for (size_t i = 0; i < condition.size(); ++i) {
        if (!condition[i].matches(word[i])) return false;
      }
    } else {
      if (word.substr(word.size() - strip.size()) != strip) return false;
      const size_t start = word.size() - condition.size();
      for (size_t i = 0; i < condition.size(); ++i) {
        if (!condition[i].matches(word[start + i])) return false;
      }
    }
    return true;
  }

  std::u32string apply(std::u32string_view word) const {
    if (prefix) return add + std::u32string(word.substr(strip.size()));
    return std::u32string(word.substr(0, word.size() - strip.size())) + add;
  }
};

struct AffixFile {
  FlagKind kind = FlagKind::kByte;
  std::map<std::string, std::vector<Affix>> prefixes;
  std::map<std::string, std::vector<Affix>> suffixes;
  std::vector<Flags> aliases;  // AF lines, numbered from 1
  std::string needAffix, onlyInCompound, forbidden, circumfix;
  std::set<std::string> elisions;  // elided prefixes, as forms of their own ("l'")
};

std::vector<std::string> fields(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  for (std::string f; in >> f;) out.push_back(f);
  return out;
}

Flags flagsOf(const AffixFile& aff, std::string_view text) {
  if (!aff.aliases.empty() && !text.empty() &&
      std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    const size_t n = std::strtoul(std::string(text).c_str(), nullptr, 10);
    if (n >= 1 && n <= aff.aliases.size()) return aff.aliases[n - 1];
  }
  return parseFlags(text, aff.kind);
}

AffixFile readAffixFile(const char* path, size_t maxAdd) {
  AffixFile aff;
  std::ifstream in(path);
  std::string line;
  std::map<std::string, int> remaining;  // rules still to read after each affix class header
  bool aliasHeaderSeen = false;
  while (std::getline(in, line)) {
    const std::vector<std::string> f = fields(line);
    if (f.empty() || f[0][0] == '#') continue;
    const std::string& key = f[0];
    if (key == "FLAG" && f.size() > 1) {
      aff.kind = f[1] == "long"  ? FlagKind::kLong
                 : f[1] == "num" ? FlagKind::kNumber
                                 : FlagKind::kUtf8;
    } else if (key == "AF" && f.size() > 1) {
      if (!aliasHeaderSeen) {  // the first AF line gives the count
        aliasHeaderSeen = true;
        continue;
      }
      aff.aliases.push_back(parseFlags(f[1], aff.kind));
    } else if (key == "NEEDAFFIX" && f.size() > 1) {
      aff.needAffix = f[1];
    } else if (key == "ONLYINCOMPOUND" && f.size() > 1) {
      aff.onlyInCompound = f[1];
    } else if (key == "FORBIDDENWORD" && f.size() > 1) {
      aff.forbidden = f[1];
    } else if (key == "CIRCUMFIX" && f.size() > 1) {
      aff.circumfix = f[1];
    } else if ((key == "PFX" || key == "SFX") && f.size() >= 4) {
      const std::string id = key + f[1];
      if (remaining[id] == 0) {  // a header: flag, cross product, rule count
        remaining[id] = std::atoi(f[3].c_str());
        auto& table = key == "PFX" ? aff.prefixes[f[1]] : aff.suffixes[f[1]];
        table.clear();
        table.reserve(remaining[id]);
        // The cross-product mark of the header goes on each rule read below.
        table.push_back(Affix{key == "PFX", f[2] == "Y", {}, {}, {}, {}});
        continue;
      }
      --remaining[id];
      if (f.size() < 4) continue;
      auto& table = key == "PFX" ? aff.prefixes[f[1]] : aff.suffixes[f[1]];
      Affix affix;
      affix.prefix = key == "PFX";
      affix.cross = table.front().cross;
      affix.strip = f[2] == "0" ? U"" : decode(f[2]);
      std::string add = f[3];
      if (const size_t slash = add.find('/'); slash != std::string::npos) {
        affix.continuation = flagsOf(aff, std::string_view(add).substr(slash + 1));
        add.resize(slash);
      }
      affix.add = add == "0" ? U"" : decode(add);
      affix.condition = parseCondition(f.size() > 4 ? decode(f[4]) : U".");
      if (affix.prefix && (add.find('\'') != std::string::npos || add.ends_with('-'))) {
        if (const size_t apostrophe = add.find('\''); apostrophe != std::string::npos) {
          aff.elisions.insert(add.substr(0, apostrophe + 1));
        }
        continue;
      }
      if (affix.add.size() > maxAdd) continue;
      table.push_back(std::move(affix));
    }
  }
  // Drop the header entries that only carried the cross-product mark.
  for (auto* tables : {&aff.prefixes, &aff.suffixes}) {
    for (auto& [flag, rules] : *tables) rules.erase(rules.begin());
  }
  return aff;
}

class Expander {
 public:
  Expander(const AffixFile& aff, bool keepCapitalised, bool stemsOnly, bool oneLevel)
      : aff_(aff), keepCapitalised_(keepCapitalised), stemsOnly_(stemsOnly), oneLevel_(oneLevel) {}

  void expandStem(std::u32string_view stem, const Flags& flags) {
    if (has(flags, aff_.forbidden) || has(flags, aff_.onlyInCompound)) return;
    if (stemsOnly_) {
      emit(stem);
      return;
    }
    if (!has(flags, aff_.needAffix)) emit(stem);
    for (const std::string& flag : flags) {
      if (auto it = aff_.suffixes.find(flag); it != aff_.suffixes.end()) {
        for (const Affix& s : it->second) {
          if (!s.appliesTo(stem)) continue;
          const std::u32string once = s.apply(stem);
          const bool sCircumfix = has(s.continuation, aff_.circumfix);
          if (!sCircumfix && !has(s.continuation, aff_.needAffix)) emit(once);
          // A second suffix on the first one's continuation flags.
          for (const std::string& next : s.continuation) {
            if (oneLevel_) break;
            if (auto jt = aff_.suffixes.find(next); jt != aff_.suffixes.end()) {
              for (const Affix& s2 : jt->second) {
                if (!s2.appliesTo(once) || has(s2.continuation, aff_.needAffix)) continue;
                if (sCircumfix || has(s2.continuation, aff_.circumfix)) continue;
                emit(s2.apply(once));
              }
            }
          }
          if (!s.cross) continue;
          // Prefixes of the stem (or of the suffix's continuation) joined to the suffixed form.
          for (const Flags* source : {&flags, &s.continuation}) {
            for (const std::string& pflag : *source) {
              auto pt = aff_.prefixes.find(pflag);
              if (pt == aff_.prefixes.end()) continue;
              for (const Affix& p : pt->second) {
                if (!p.cross || !p.appliesTo(once)) continue;
                if (has(p.continuation, aff_.circumfix) != sCircumfix) continue;
                emit(p.apply(once));
              }
            }
          }
        }
      }
      if (auto it = aff_.prefixes.find(flag); it != aff_.prefixes.end()) {
        for (const Affix& p : it->second) {
          if (!p.appliesTo(stem)) continue;
          const std::u32string once = p.apply(stem);
          if (!has(p.continuation, aff_.circumfix) && !has(p.continuation, aff_.needAffix)) {
            emit(once);
          }
          for (const std::string& next : p.continuation) {
            if (auto jt = aff_.suffixes.find(next); jt != aff_.suffixes.end()) {
              for (const Affix& s2 : jt->second) {
                if (!s2.appliesTo(once)) continue;
                if (has(s2.continuation, aff_.circumfix) != has(p.continuation, aff_.circumfix)) {
                  continue;
                }
                emit(s2.apply(once));
              }
            }
          }
        }
      }
    }
  }

  // The forms of at least `minLength` characters, sorted.
  std::vector<std::string> forms(size_t minLength) const {
    std::vector<std::string> sorted;
    for (const std::string& form : forms_) {
      if (decode(form).size() >= minLength) sorted.push_back(form);
    }
    for (const std::string& e : aff_.elisions) sorted.push_back(lower(decode(e)));
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    return sorted;
  }

  bool keepsStem(std::u32string_view stem) const {
    return !stem.empty() && (keepCapitalised_ || !u_isupper(static_cast<UChar32>(stem[0])));
  }

 private:
  static std::string lower(std::u32string_view s) {
    std::u32string out(s);
    for (char32_t& c : out) c = static_cast<char32_t>(u_tolower(static_cast<UChar32>(c)));
    return encode(out);
  }

  // Records `form`, split at hyphens into its parts.
  void emit(std::u32string_view form) {
    size_t begin = 0;
    while (begin <= form.size()) {
      size_t end = form.find(U'-', begin);
      if (end == std::u32string_view::npos) end = form.size();
      const std::u32string_view part = form.substr(begin, end - begin);
      bool letters = !part.empty();
      for (char32_t c : part)
        letters &= u_isalpha(static_cast<UChar32>(c)) || c == U'\'' || c == U'’';
      if (letters) forms_.insert(lower(part));
      begin = end + 1;
    }
  }

  const AffixFile& aff_;
  bool keepCapitalised_;
  bool stemsOnly_;
  bool oneLevel_;
  std::unordered_set<std::string> forms_;
};

}  // namespace

std::vector<std::string> expandDictionary(const std::string& affPath, const std::string& dicPath,
                                          const ExpansionOptions& options) {
  const AffixFile aff = readAffixFile(affPath.c_str(), options.maxAdd);
  Expander expander(aff, options.keepCapitalised, options.stemsOnly, options.oneLevel);
  std::ifstream dic(dicPath);
  std::string line;
  std::getline(dic, line);  // the stem count
  while (std::getline(dic, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();  // some lists end lines in CR LF
    if (line.empty() || line[0] == ' ' || line[0] == '\t' || line[0] == '#') continue;
    // The stem ends at an unescaped slash or at white space; flags follow the slash.
    std::string stem;
    size_t i = 0;
    for (; i < line.size() && line[i] != '/' && line[i] != '\t' && line[i] != ' '; ++i) {
      if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == '/') ++i;
      stem.push_back(line[i]);
    }
    Flags flags;
    if (i < line.size() && line[i] == '/') {
      const size_t end = line.find_first_of(" \t", i + 1);
      flags = flagsOf(aff, std::string_view(line).substr(
                               i + 1, end == std::string::npos ? std::string::npos : end - i - 1));
    }
    const std::u32string word = decode(stem);
    if (!expander.keepsStem(word)) continue;
    expander.expandStem(word, flags);
  }
  return expander.forms(options.minLength);
}

}  // namespace talvori
