// Writes the words of the English names that ICU (from the Unicode CLDR) gives languages, scripts,
// countries and regions, months and days of the week, one lower-case word a line.
//
// Usage: english_names OUT
//
// Interface text names languages and places ("Greek", "Norwegian Bokmål", "Marshall Islands"),
// while the English word list keeps no names, as most are names of people and places that are
// words of other languages ("Europa", "Sierra", "Rosa").
#include <fstream>
#include <set>
#include <string>

#include <unicode/dtfmtsym.h>
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/uloc.h>
#include <unicode/unistr.h>
#include <unicode/uscript.h>

namespace {

// Adds the words of `name` (letters only, lower case) to `words`.
void addWords(const icu::UnicodeString& name, std::set<std::string>& words) {
  icu::UnicodeString word;
  auto finish = [&] {
    if (word.length() > 1) {
      std::string utf8;
      word.toLower(icu::Locale::getEnglish()).toUTF8String(utf8);
      words.insert(utf8);
    }
    word.remove();
  };
  for (int32_t i = 0; i < name.length();) {
    const UChar32 c = name.char32At(i);
    i += U16_LENGTH(c);
    if (u_isalpha(c)) {
      word.append(c);
    } else {
      finish();
    }
  }
  finish();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const icu::Locale english = icu::Locale::getEnglish();
  std::set<std::string> words;
  icu::UnicodeString name;
  for (const char* const* language = uloc_getISOLanguages(); *language != nullptr; ++language) {
    addWords(icu::Locale(*language).getDisplayLanguage(english, name), words);
  }
  for (const char* const* country = uloc_getISOCountries(); *country != nullptr; ++country) {
    addWords(icu::Locale("", *country).getDisplayCountry(english, name), words);
  }
  for (int script = 0; script < USCRIPT_CODE_LIMIT; ++script) {
    const char* code = uscript_getShortName(static_cast<UScriptCode>(script));
    if (code == nullptr) continue;
    addWords(icu::Locale(("und_" + std::string(code)).c_str()).getDisplayScript(english, name),
             words);
  }
  UErrorCode status = U_ZERO_ERROR;
  const icu::DateFormatSymbols symbols(english, status);
  if (U_SUCCESS(status)) {
    int32_t count = 0;
    const icu::UnicodeString* months = symbols.getMonths(count);
    for (int32_t i = 0; i < count; ++i) addWords(months[i], words);
    const icu::UnicodeString* days = symbols.getWeekdays(count);
    for (int32_t i = 0; i < count; ++i) addWords(days[i], words);
  }
  std::ofstream out(argv[1]);
  for (const std::string& word : words) out << word << '\n';
  return out ? 0 : 1;
}
