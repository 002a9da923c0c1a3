#include "platform/recogniser/latin_profiles.h"

#include <array>
#include <cstdint>
#include <string>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

#include <unicode/uchar.h>

#include "base/utf8.h"

namespace talvori {
namespace {

// What a language is recognised by. Words are lower case; an elided article or pronoun ends in an
// apostrophe ("l'"). In fragments '_' stands for a word edge: "_th" starts a word, "ción_" ends
// one, "sch" is anywhere. Every list holds common facts of the language's spelling and grammar,
// not counts from any corpus.
struct Profile {
  std::string_view code;      // BCP 47, as the recogniser answers
  std::string_view alias;     // another CLD2 answer meaning the same profile, or empty
  std::string_view frequent;  // its most frequent words
  std::string_view words;     // other common words
  std::string_view letters;   // lower-case letters of the alphabet beyond ASCII
  std::string_view fragments;
};

constexpr std::array kProfiles = {
    Profile{"en", "", "the of and to a in is that it for on with as was be by this are",
            "the of and to a in is it that for on with as are be this by from or not an at which "
            "can if you your was were has have had been will its all but when they their there "
            "than may into only also such any each these those should would could must does do "
            "no then so what how who i we he she my our shall used",
            "", "_th _wh ing_ ly_ ould_ ght tion_ ness_ ed_ _un w"},
    Profile{"es", "",
            "de la que el en y a los del se las por un para con no una su al es lo como más",
            "de la que el en y a los se del las un por con no una su para es al lo como más o "
            "pero sus le ha si sin sobre este ya entre cuando todo esta ser son también fue había "
            "era muy hasta desde está porque qué hay puede pueden así nos ni tiene tienen donde "
            "mismo cada otro otros otra después aunque eso hace siempre ella según menos estos "
            "estas debe cual cuál mediante cualquier ningún ninguna algún alguna algunos éste "
            "ésta sólo solo además están será usa e u dos",
            "áéíóúñü¿¡",
            "ción_ ciones_ ones_ dad_ ando_ iendo_ ado_ ados_ ada_ adas_ ble_ bles_ mente_ ll ue "
            "ie o_ os_"},
    Profile{"pt", "",
            "de a o que e do da em um para é com não uma os no se na por mais as dos como mas",
            "o a os as de do da dos das em no na nos nas um uma uns umas e é que para por com não "
            "se ao aos à às pelo pela pelos pelas como mais mas ou seu sua seus suas este esta "
            "isso isto ser são está estão foi tem têm ter pode podem quando também já muito onde "
            "ele ela eles elas entre sobre sem até depois cada outro outra mesmo você qual",
            "áâãàçéêíóôõúü",
            "ção_ ções_ ões_ ão_ dade_ nh lh vel_ agem_ ado_ ada_ ando_ mente_ o_ os_"},
    Profile{"gl", "",
            "de a o que e do da en un para é con non unha os no se na por máis as dos como pero",
            "o a os as de do da dos das en no na nos nas un unha uns unhas e é que para por con "
            "non se ao aos á ás polo pola polos polas como máis pero ou seu súa seus súas este "
            "esta isto iso ser son está están foi ten teñen pode poden cando tamén xa moi onde el "
            "ela eles elas entre sobre sen ata despois cada outro outra mesmo",
            "áéíóúñü", "ción_ cións_ óns_ dade_ nh _x xe ado_ ada_ ando_ mente_ o_ os_"},
    Profile{"ca", "", "de la el i que a en els les per un una es amb no del va més com al",
            "el la els les de del dels i a en que per amb no un una és es al als com més o però "
            "seu seva seus seves aquest aquesta això ser són està estan va pot poden quan també ja "
            "molt on ell ella ells elles entre sobre sense fins després cada altre altra mateix "
            "l' d' s' n' hi ho li ens us tothom",
            "àçéèíïòóú·", "ció_ cions_ tat_ ny ix tx l·l ment_"},
    Profile{"it", "", "di e il la che a per in un è non una del della si da con i dei come",
            "il di che la e a in un una per è non sono con del della dei delle degli gli le lo al "
            "alla si da come ma più anche se questo questa quando può essere ha ho hanno tutti "
            "tutto ogni dove nel nella sul sulla sui tra fra o ad ed l' un' dell' all' nell' "
            "quale cui solo molto così già",
            "àèéìíîòóùú", "zione_ zioni_ gli cch tà_ zz mente_ ato_ ata_ are_ ere_ o_"},
    Profile{"fr", "",
            "de la le et les des en un du une que est pour qui dans à il pas par sur au ne se plus "
            "mais",
            "le la les de des du et est un une pour dans en que qui pas non sur par au aux ou être "
            "ne a "
            "se ce cette ces il ils elle elles on sont avec plus son sa ses leur leurs peut mais "
            "si tout tous toute comme été fait aussi très sans entre lors dont où même autre "
            "autres quand donc car lorsque chaque peuvent doit qu' l' d' n' s' c' j' nous vous y "
            "à",
            "àâæçéèêëîïôœùûüÿ", "tion_ tions_ ment_ eau eux_ aux_ oi ou ique_ ée_ ées_ és_ ait_"},
    Profile{"ro", "", "de și şi în a la cu pe un o care nu se că este",
            "și şi în de la a cu pe un o este sunt nu se că care pentru mai din ca sau al ale lui "
            "dacă fi fost prin după despre acest această acesta poate ar va fie doar către",
            "ăâîșşțţ", "ul_ ului_ ție ţie ea_ ii_"},
    Profile{
        "de", "",
        "der die und in den von zu das mit sich auf für ist im dem nicht ein eine als auch es",
        "der die das und ist nicht mit von den dem des ein eine einer eines einem einen zu "
        "wird werden auf für sich wenn oder im in an als auch es bei nach aus wie kann können nie "
        "nur noch so sind sein hat haben war dass daß über unter vor durch um bis zum zur "
        "diese dieser dieses alle kein keine wurde soll muss ob ich sie er wir ihr ihre seine",
        "äöüß", "sch ung_ ungen_ keit_ heit_ lich_ chen_ cht tz ei pf _ge w"},
    Profile{"nl", "", "de van het een en in is dat op te zijn voor met niet",
            "de het een van en in is dat op te zijn met voor niet aan er die als ook door om of "
            "bij uit naar worden wordt kan maar dan nog deze dit wat zal hebben heeft ze zich "
            "geen over was werd tot je u wij hij",
            "éëïóöüè", "ij oe aa uu ee sch cht lijk_ heid_ _ge w"},
    Profile{"af", "", "die van en in is het nie te wat om vir dat",
            "die en van is in het nie te wat om vir dat op met sy hulle word kan ook as na hy "
            "ek jy ons was sal moet daar hier of",
            "êëôîûéèïöü", "oe ee aa heid_ lik_ _ge"},
    Profile{"da", "", "og i at det er en til på som de med for af ikke den",
            "og i er det at en til på som de med for af ikke den har der kan et om var fra vil "
            "skal eller ved så sig men også ud efter blive være dette disse hvis når kun alle "
            "hun han jeg vi du blev må noget end hvor hvad",
            "æøåé", "hed_ lig_ else_ sk kk"},
    Profile{"no", "nn", "og i er det som på en til av for at med ikke den",
            "og i er det som på en til av for at med ikke den har de om et kan skal vil fra "
            "eller var ved så seg men også ut etter bli blir være dette disse hvis når kun alle "
            "hans hun han jeg vi du ble må noe enn hvor hva slik",
            "æøåé", "het_ lig_ else_ sk kk"},
    Profile{"sv", "", "och i att det som en på är av för med till den inte",
            "och i är det att en som på för med av till den inte har de om ett kan ska vill från "
            "eller var vid så sig men också ut efter bli blir vara detta dessa när bara alla han "
            "hon jag vi du blev måste något än där vad",
            "åäöé", "ck tt ligt_ het_ ning_ sk"},
    Profile{"id", "ms", "yang dan di ke dari ini itu dengan untuk tidak",
            "yang dan di ke dari ini itu dengan untuk tidak akan ada pada dalam atau adalah oleh "
            "juga dapat jika saat sebagai karena bisa harus telah sudah tersebut lebih hanya kami "
            "kita mereka anda ia",
            "", "ng_ kan_ nya_ _ber _meng _mem _di ny"},
};

// Spellings that set a close relative apart from a main language because the main language does
// not write them in its own words (only in names and loanwords), in the notation of the profiles'
// fragments ("_" a word edge). With the letters and words by which the two differ they are the
// relative's distinctive evidence (see distinctiveEvidence).
struct Marks {
  std::string_view relative;
  std::string_view main;
  std::string_view marks;
};
constexpr std::array kMarks = {
    Marks{"pt", "es", "lh nh aix eiro eira dade_ dades_ ível_ ável_ agem_ agens_ ou_ eu_ iu_"},
    Marks{"gl", "es",
          "nh aix eiro eira dade_ dades_ cións_ óns_ ábel_ íbel_ axe_ axes_ ou_ eu_ iu_ _xe _xa "
          "_xu bx "
          "_nun_ _nunha_ _coa_"},
    Marks{"ca", "es",
          "ny l·l tx tj tg ig_ iu_ eu_ eix aix ts_ ns_ ció_ cions_ ència_ ències_ ment_ _pel_ "
          "_pels_"},
    Marks{"ca", "fr",
          "ny l·l tx tj tg ig_ iu_ eix aix ció_ cions_ ència_ ències_ ària_ rà_ ll_ _pel_ _pels_"},
    Marks{"it", "es", "gli zione zioni cch ggi ll'"},
    Marks{"nl", "de", "ij oe uu ui ou"},
    Marks{"af", "de", "oe"},
};

constexpr size_t kCount = kProfiles.size();
constexpr float kFrequentWeight = 2;
constexpr float kWordWeight = 1;
constexpr float kLetterWeight = 1;
constexpr float kForeignLetterCost = 1;
constexpr float kFragmentWeight = 0.5;

// The weight of one piece of evidence for each profile.
using Weights = std::array<float, kCount>;

size_t indexOf(std::string_view code) {
  for (size_t i = 0; i < kCount; ++i) {
    if (kProfiles[i].code == code) return i;
  }
  return kCount;
}

template <typename Visit>
void forEachWord(std::string_view list, Visit&& visit) {
  size_t begin = 0;
  while (begin < list.size()) {
    size_t end = list.find(' ', begin);
    if (end == std::string_view::npos) end = list.size();
    if (end > begin) visit(list.substr(begin, end - begin));
    begin = end + 1;
  }
}

struct Tables {
  std::unordered_map<std::string_view, Weights> words;
  std::unordered_map<UChar32, Weights> letters;
  std::vector<std::pair<std::string, Weights>> fragments;  // '_' replaced by ' '
  // For each relative and main language, its marks with '_' replaced by ' '.
  std::vector<std::tuple<size_t, size_t, std::vector<std::string>>> marks;

  Tables() {
    std::unordered_map<std::string, Weights> fragmentWeights;
    for (size_t i = 0; i < kCount; ++i) {
      const Profile& profile = kProfiles[i];
      forEachWord(profile.words, [&](std::string_view w) { words[w][i] = kWordWeight; });
      forEachWord(profile.frequent, [&](std::string_view w) { words[w][i] = kFrequentWeight; });
      for (std::size_t at = 0; at < profile.letters.size();) {
        const UChar32 c = decodeUtf8(profile.letters, at);
        letters.try_emplace(c).first->second[i] = kLetterWeight + kForeignLetterCost;
      }
      forEachWord(profile.fragments, [&](std::string_view f) {
        std::string fragment(f);
        for (char& ch : fragment) ch = ch == '_' ? ' ' : ch;
        fragmentWeights[fragment][i] = kFragmentWeight;
      });
    }
    // Every letter costs each language kForeignLetterCost, which its own letters give back.
    for (auto& [letter, weights] : letters) {
      for (float& w : weights) w -= kForeignLetterCost;
    }
    fragments.assign(fragmentWeights.begin(), fragmentWeights.end());
    for (const Marks& m : kMarks) {
      std::vector<std::string> spellings;
      forEachWord(m.marks, [&](std::string_view f) {
        std::string mark(f);
        for (char& ch : mark) ch = ch == '_' ? ' ' : ch;
        spellings.push_back(std::move(mark));
      });
      marks.emplace_back(indexOf(m.relative), indexOf(m.main), std::move(spellings));
    }
  }
};

const Tables& tables() {
  static const Tables* const instance = new Tables;  // never destroyed: outlives all users
  return *instance;
}

bool isApostrophe(UChar32 c) { return c == '\'' || c == 0x2019; }

// The words of `text` in lower case, each preceded and followed by one space (" la cadena "), an
// elided word keeping its apostrophe ("l' application"), and the non-ASCII letters met.
void normalise(std::string_view text, std::string& words, std::vector<UChar32>& accented) {
  words.assign(1, ' ');
  accented.clear();
  size_t wordStart = words.size();
  for (size_t i = 0; i < text.size();) {
    UChar32 c = decodeUtf8(text, i);
    const bool letter = c >= 0 && (c < 0x80 ? ((c | 0x20) >= 'a' && (c | 0x20) <= 'z')
                                            : (u_isalpha(c) || c == 0xB7));  // "l·l"
    if (letter) {
      c = c < 0x80 ? (c | 0x20) : u_tolower(c);
      if (c >= 0x80 && c != 0xB7) accented.push_back(c);
      appendUtf8(static_cast<char32_t>(c), words);
      continue;
    }
    if (words.size() == wordStart) continue;  // no word open
    // A short word followed by an apostrophe is elided ("l'", "qu'", "dell'"); the apostrophe
    // stays with it so that it matches the word lists.
    if (isApostrophe(c) && words.size() - wordStart <= 4) words.push_back('\'');
    words.push_back(' ');
    wordStart = words.size();
  }
  if (words.size() != wordStart) words.push_back(' ');
}

}  // namespace

std::span<const ProfileScore> scoreLatinProfiles(std::string_view text) {
  static std::array<ProfileScore, kCount> scores;
  static std::string words;
  static std::vector<UChar32> accented;
  const Tables& t = tables();
  std::array<double, kCount> total{};
  std::array<double, kCount> wordTotal{};
  std::array<int, kCount> foreign{};
  normalise(text, words, accented);
  auto add = [&total](const Weights& weights) {
    for (size_t i = 0; i < kCount; ++i) total[i] += weights[i];
  };
  const std::string_view all(words);
  for (size_t begin = 1; begin < all.size();) {
    const size_t end = all.find(' ', begin);
    if (auto it = t.words.find(all.substr(begin, end - begin)); it != t.words.end()) {
      add(it->second);
      for (size_t i = 0; i < kCount; ++i) wordTotal[i] += it->second[i];
    }
    begin = end + 1;
  }
  for (UChar32 c : accented) {
    if (auto it = t.letters.find(c); it != t.letters.end()) {
      add(it->second);
      for (size_t i = 0; i < kCount; ++i) foreign[i] += it->second[i] < 0;
    } else {
      for (double& s : total) s -= kForeignLetterCost;
      for (int& n : foreign) ++n;
    }
  }
  for (const auto& [fragment, weights] : t.fragments) {
    for (size_t at = all.find(fragment); at != std::string_view::npos;
         at = all.find(fragment, at + 1)) {
      add(weights);
    }
  }
  for (size_t i = 0; i < kCount; ++i) {
    scores[i] = {kProfiles[i].code, total[i], wordTotal[i], foreign[i]};
  }
  return scores;
}

int distinctiveEvidence(std::string_view text, std::string_view relative, std::string_view main) {
  const size_t r = indexOf(relative);
  const size_t m = indexOf(main);
  if (r == kCount || m == kCount) return 0;
  static std::string words;
  static std::vector<UChar32> accented;
  const Tables& t = tables();
  normalise(text, words, accented);
  int evidence = 0;
  for (UChar32 c : accented) {
    if (auto it = t.letters.find(c); it != t.letters.end()) {
      evidence += it->second[r] > 0 && it->second[m] < 0;
    }
  }
  const std::string_view all(words);
  for (size_t begin = 1; begin < all.size();) {
    const size_t end = all.find(' ', begin);
    if (auto it = t.words.find(all.substr(begin, end - begin)); it != t.words.end()) {
      evidence += it->second[r] > 0 && it->second[m] == 0;
    }
    begin = end + 1;
  }
  for (const auto& [relativeIndex, mainIndex, spellings] : t.marks) {
    if (relativeIndex != r || mainIndex != m) continue;
    for (const std::string& mark : spellings) evidence += all.find(mark) != std::string_view::npos;
  }
  return evidence;
}

int foreignWords(std::string_view text, std::string_view language) {
  const size_t l = indexOf(language);
  if (l == kCount) return 0;
  static std::string words;
  static std::vector<UChar32> accented;
  const Tables& t = tables();
  normalise(text, words, accented);
  int foreign = 0;
  const std::string_view all(words);
  for (size_t begin = 1; begin < all.size();) {
    const size_t end = all.find(' ', begin);
    if (auto it = t.words.find(all.substr(begin, end - begin)); it != t.words.end()) {
      foreign += it->second[l] == 0;
    }
    begin = end + 1;
  }
  return foreign;
}

std::string_view latinProfileOf(std::string_view language) {
  for (const Profile& profile : kProfiles) {
    if (language == profile.code || (!profile.alias.empty() && language == profile.alias)) {
      return profile.code;
    }
  }
  return {};
}

}  // namespace talvori
