#include "address_terms.h"

#include <algorithm>
#include <array>

#include "code_names.h"
#include "line_form.h"

namespace marlix {

namespace {

// The Korean words the reading compares with the data, in the data's CP949 bytes.
constexpr std::string_view kRo = "\xB7\xCE";                             // 로
constexpr std::string_view kGil = "\xB1\xE6";                            // 길
constexpr std::string_view kBeonGil = "\xB9\xF8\xB1\xE6";                // 번길
constexpr std::string_view kDong = "\xB5\xBF";                           // 동
constexpr std::string_view kRi = "\xB8\xAE";                             // 리
constexpr std::string_view kGa = "\xB0\xA1";                             // 가
constexpr std::string_view kUnderground = "\xC1\xF6\xC7\xCF";            // 지하
constexpr std::string_view kKorea = "\xB4\xEB\xC7\xD1\xB9\xCE\xB1\xB9";  // 대한민국

// What a paste carries around an address and that no line holds.
bool IsPunctuation(char c) {
  return c == ',' || c == '(' || c == ')' || c == '.' || c == ';' || c == ':' || c == '"' || c == '\'' || c == '[' ||
         c == ']' || c == '\t';
}

bool IsAscii(std::string_view word) {
  return std::none_of(word.begin(), word.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

bool IsFiveDigitCode(std::string_view word) {
  return word.size() == 5 && std::all_of(word.begin(), word.end(), IsAsciiDigit);
}

// The whole characters of a word's end: true when `word` ends with `suffix`
// and the suffix begins on a character boundary.
bool EndsWithCharacters(std::string_view word, std::string_view suffix) {
  if (!word.ends_with(suffix)) return false;
  const std::size_t at = word.size() - suffix.size();
  return CharacterStart(word, at) == at;
}

bool EndsWithAny(std::string_view word, std::initializer_list<std::string_view> suffixes) {
  return std::any_of(suffixes.begin(), suffixes.end(), [&](std::string_view s) { return EndsWithCharacters(word, s); });
}

// A word that names a road, whose number may follow it joined (테헤란로123) or
// its 길 number apart (논현로 8길).
bool EndsRoad(std::string_view word) { return !IsAscii(word) && EndsWithAny(word, {kRo, kGil}); }

// A road's numbered branch written apart from it: 8길, 25번길.
bool IsBranchNumber(std::string_view word) {
  std::size_t digits = 0;
  while (digits < word.size() && IsAsciiDigit(word[digits])) ++digits;
  if (digits == 0) return false;
  const std::string_view rest = word.substr(digits);
  return rest == kGil || rest == kBeonGil;
}

// The 시도 by the names people use for them; each row gives every name the
// data may write (editions differ for the renamed ones) and the names typed.
struct Province {
  std::array<std::string_view, 2> written;
  std::array<std::string_view, 4> typed;
};

constexpr Province kProvinces[] = {
    {{"\xBC\xAD\xBF\xEF\xC6\xAF\xBA\xB0\xBD\xC3"},
     {"\xBC\xAD\xBF\xEF", "\xBC\xAD\xBF\xEF\xBD\xC3",
      "\xBC\xAD\xBF\xEF\xC6\xAF\xBA\xB0\xBD\xC3"}},  // 서울특별시, 서울, 서울시, 서울특별시
    {{"\xBA\xCE\xBB\xEA\xB1\xA4\xBF\xAA\xBD\xC3"},
     {"\xBA\xCE\xBB\xEA", "\xBA\xCE\xBB\xEA\xBD\xC3",
      "\xBA\xCE\xBB\xEA\xB1\xA4\xBF\xAA\xBD\xC3"}},  // 부산광역시, 부산, 부산시, 부산광역시
    {{"\xB4\xEB\xB1\xB8\xB1\xA4\xBF\xAA\xBD\xC3"},
     {"\xB4\xEB\xB1\xB8", "\xB4\xEB\xB1\xB8\xBD\xC3",
      "\xB4\xEB\xB1\xB8\xB1\xA4\xBF\xAA\xBD\xC3"}},  // 대구광역시, 대구, 대구시, 대구광역시
    {{"\xC0\xCE\xC3\xB5\xB1\xA4\xBF\xAA\xBD\xC3"},
     {"\xC0\xCE\xC3\xB5", "\xC0\xCE\xC3\xB5\xBD\xC3",
      "\xC0\xCE\xC3\xB5\xB1\xA4\xBF\xAA\xBD\xC3"}},  // 인천광역시, 인천, 인천시, 인천광역시
    {{"\xB1\xA4\xC1\xD6\xB1\xA4\xBF\xAA\xBD\xC3"},
     {"\xB1\xA4\xC1\xD6", "\xB1\xA4\xC1\xD6\xBD\xC3",
      "\xB1\xA4\xC1\xD6\xB1\xA4\xBF\xAA\xBD\xC3"}},  // 광주광역시, 광주, 광주시, 광주광역시
    {{"\xB4\xEB\xC0\xFC\xB1\xA4\xBF\xAA\xBD\xC3"},
     {"\xB4\xEB\xC0\xFC", "\xB4\xEB\xC0\xFC\xBD\xC3",
      "\xB4\xEB\xC0\xFC\xB1\xA4\xBF\xAA\xBD\xC3"}},  // 대전광역시, 대전, 대전시, 대전광역시
    {{"\xBF\xEF\xBB\xEA\xB1\xA4\xBF\xAA\xBD\xC3"},
     {"\xBF\xEF\xBB\xEA", "\xBF\xEF\xBB\xEA\xBD\xC3",
      "\xBF\xEF\xBB\xEA\xB1\xA4\xBF\xAA\xBD\xC3"}},  // 울산광역시, 울산, 울산시, 울산광역시
    {{"\xBC\xBC\xC1\xBE\xC6\xAF\xBA\xB0\xC0\xDA\xC4\xA1\xBD\xC3"},
     {"\xBC\xBC\xC1\xBE", "\xBC\xBC\xC1\xBE\xBD\xC3",
      "\xBC\xBC\xC1\xBE\xC6\xAF\xBA\xB0\xC0\xDA\xC4\xA1\xBD\xC3"}},  // 세종특별자치시, 세종, 세종시, 세종특별자치시
    {{"\xB0\xE6\xB1\xE2\xB5\xB5"}, {"\xB0\xE6\xB1\xE2", "\xB0\xE6\xB1\xE2\xB5\xB5"}},  // 경기도, 경기, 경기도
    {{"\xB0\xAD\xBF\xF8\xB5\xB5", "\xB0\xAD\xBF\xF8\xC6\xAF\xBA\xB0\xC0\xDA\xC4\xA1\xB5\xB5"},
     {"\xB0\xAD\xBF\xF8", "\xB0\xAD\xBF\xF8\xB5\xB5",
      "\xB0\xAD\xBF\xF8\xC6\xAF\xBA\xB0\xC0\xDA\xC4\xA1\xB5\xB5"}},  // 강원도, 강원특별자치도, 강원, 강원도,
                                                                     // 강원특별자치도
    {{"\xC3\xE6\xC3\xBB\xBA\xCF\xB5\xB5"},
     {"\xC3\xE6\xBA\xCF", "\xC3\xE6\xBA\xCF\xB5\xB5",
      "\xC3\xE6\xC3\xBB\xBA\xCF\xB5\xB5"}},  // 충청북도, 충북, 충북도, 충청북도
    {{"\xC3\xE6\xC3\xBB\xB3\xB2\xB5\xB5"},
     {"\xC3\xE6\xB3\xB2", "\xC3\xE6\xB3\xB2\xB5\xB5",
      "\xC3\xE6\xC3\xBB\xB3\xB2\xB5\xB5"}},  // 충청남도, 충남, 충남도, 충청남도
    {{"\xC0\xFC\xB6\xF3\xBA\xCF\xB5\xB5", "\xC0\xFC\xBA\xCF\xC6\xAF\xBA\xB0\xC0\xDA\xC4\xA1\xB5\xB5"},
     {"\xC0\xFC\xBA\xCF", "\xC0\xFC\xBA\xCF\xB5\xB5", "\xC0\xFC\xB6\xF3\xBA\xCF\xB5\xB5",
      "\xC0\xFC\xBA\xCF\xC6\xAF\xBA\xB0\xC0\xDA\xC4\xA1\xB5\xB5"}},  // 전라북도, 전북특별자치도, 전북, 전북도,
                                                                     // 전라북도, 전북특별자치도
    {{"\xC0\xFC\xB6\xF3\xB3\xB2\xB5\xB5"},
     {"\xC0\xFC\xB3\xB2", "\xC0\xFC\xB3\xB2\xB5\xB5",
      "\xC0\xFC\xB6\xF3\xB3\xB2\xB5\xB5"}},  // 전라남도, 전남, 전남도, 전라남도
    {{"\xB0\xE6\xBB\xF3\xBA\xCF\xB5\xB5"},
     {"\xB0\xE6\xBA\xCF", "\xB0\xE6\xBA\xCF\xB5\xB5",
      "\xB0\xE6\xBB\xF3\xBA\xCF\xB5\xB5"}},  // 경상북도, 경북, 경북도, 경상북도
    {{"\xB0\xE6\xBB\xF3\xB3\xB2\xB5\xB5"},
     {"\xB0\xE6\xB3\xB2", "\xB0\xE6\xB3\xB2\xB5\xB5",
      "\xB0\xE6\xBB\xF3\xB3\xB2\xB5\xB5"}},  // 경상남도, 경남, 경남도, 경상남도
    {{"\xC1\xA6\xC1\xD6\xC6\xAF\xBA\xB0\xC0\xDA\xC4\xA1\xB5\xB5", "\xC1\xA6\xC1\xD6\xB5\xB5"},
     {"\xC1\xA6\xC1\xD6", "\xC1\xA6\xC1\xD6\xB5\xB5",
      "\xC1\xA6\xC1\xD6\xC6\xAF\xBA\xB0\xC0\xDA\xC4\xA1\xB5\xB5"}},  // 제주특별자치도, 제주도, 제주, 제주도,
                                                                     // 제주특별자치도
};

const Province* ProvinceTyped(std::string_view word) {
  for (const Province& p : kProvinces) {
    if (std::find(p.typed.begin(), p.typed.end(), word) != p.typed.end()) return &p;
  }
  return nullptr;
}

// The names the data may write a 시도 with, beside the group's texts.
void AddWrittenNames(const Province& province, TermGroup& group) {
  for (std::string_view written : province.written) {
    if (!written.empty() && std::find(group.texts.begin(), group.texts.end(), written) == group.texts.end()) {
      group.texts.emplace_back(written);
    }
  }
}

// Splits on spaces and a paste's punctuation, at character boundaries.
std::vector<std::string> Words(std::string_view term) {
  std::vector<std::string> words;
  std::string word;
  for (std::size_t i = 0; i < term.size(); ++i) {
    const char c = term[i];
    if (IsCp949LeadByte(c) && i + 1 < term.size()) {
      word += c;
      word += term[++i];
    } else if (c == ' ' || IsPunctuation(c)) {
      if (!word.empty()) words.push_back(std::move(word));
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(std::move(word));
  return words;
}

// Leaves out the country: 대한민국, Korea, Rep. of Korea, Republic of Korea, South Korea.
void DropCountry(std::vector<std::string>& words) {
  std::vector<std::string> kept;
  for (std::string& w : words) {
    if (w == kKorea) continue;
    if (EqualsIgnoringAsciiCase(w, "korea")) {
      while (!kept.empty() &&
             (EqualsIgnoringAsciiCase(kept.back(), "of") || EqualsIgnoringAsciiCase(kept.back(), "rep") ||
              EqualsIgnoringAsciiCase(kept.back(), "republic") || EqualsIgnoringAsciiCase(kept.back(), "south"))) {
        kept.pop_back();
      }
      continue;
    }
    kept.push_back(std::move(w));
  }
  words = std::move(kept);
}

// 테헤란로123 is 테헤란로 123, 논현로8길67 논현로8길 67, 개포동1183-10 개포동 1183-10;
// 논현로 8길 is 논현로8길.
void MendRoadNumbers(std::vector<std::string>& words) {
  std::vector<std::string> mended;
  for (std::string& w : words) {
    if (!mended.empty() && EndsRoad(mended.back()) && IsBranchNumber(w)) {
      mended.back() += w;
      continue;
    }
    // 개포로지하 420 and 지하420: the underground mark is a word of its own.
    if (w.size() > 4 && EndsWithCharacters(w, kUnderground) && EndsRoad(w.substr(0, w.size() - 4))) {
      mended.push_back(w.substr(0, w.size() - 4));
      w = kUnderground;
    } else if (w.size() > 4 && w.starts_with(kUnderground) && IsBuildingNumber(std::string_view(w).substr(4))) {
      mended.emplace_back(kUnderground);
      w.erase(0, 4);
    }
    std::size_t cut = w.size();
    while (cut > 0 && (IsAsciiDigit(w[cut - 1]) || w[cut - 1] == '-')) --cut;
    const std::string_view head(w.data(), cut);
    if (cut < w.size() && !IsAscii(head) && EndsWithAny(head, {kRo, kGil, kDong, kRi, kGa}) &&
        IsBuildingNumber(std::string_view(w).substr(cut))) {
      std::string number = w.substr(cut);
      w.resize(cut);
      mended.push_back(std::move(w));
      mended.push_back(std::move(number));
      continue;
    }
    mended.push_back(std::move(w));
  }
  words = std::move(mended);
}

// Gangneung-si, Guro-gu, Pyeongchang-gun, Gangwon-do, Gangdong-myeon: an English place name.
bool IsEnglishPlace(std::string_view word) {
  const std::size_t dash = word.rfind('-');
  if (dash == std::string_view::npos || dash == 0 || !IsAsciiLetter(word[0])) return false;
  constexpr std::string_view kKinds[] = {"si", "gu", "gun", "do", "eup", "myeon"};
  const std::string_view kind = word.substr(dash + 1);
  return std::any_of(std::begin(kKinds), std::end(kKinds),
                     [&](std::string_view k) { return EqualsIgnoringAsciiCase(kind, k); });
}

// The word before a building or lot number that makes it the address's
// number: a road (논현로8길, Nonhyeon-ro 8-gil), a 동, 리 or 가 (개포동 1183),
// or the underground mark after a road.
bool NamesTheNumber(const std::vector<std::string>& words, std::size_t number) {
  if (number == 0) return false;
  const std::string_view before = words[number - 1];
  if (before == kUnderground) return number >= 2 && EndsRoad(words[number - 2]);
  if (IsAscii(before)) {
    auto ends = [&](std::string_view s) {
      return before.size() >= s.size() && EqualsIgnoringAsciiCase(before.substr(before.size() - s.size()), s);
    };
    return std::any_of(before.begin(), before.end(), IsAsciiLetter) && (ends("ro") || ends("gil"));
  }
  return EndsWithAny(before, {kRo, kGil, kDong, kRi, kGa});
}

// Where the address's detail begins: after the first number that a road or a
// 동 names; the end when there is none.
std::size_t DetailStart(const std::vector<std::string>& words) {
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (IsAddressNumber(words[i]) && !IsFiveDigitCode(words[i]) && NamesTheNumber(words, i)) return i + 1;
  }
  return words.size();
}

TermGroup GroupOfWord(const std::string& word, const CodeNames* names) {
  TermGroup group;
  group.texts.push_back(word);
  if (IsFiveDigitCode(word)) {
    group.codes.push_back(static_cast<std::uint32_t>(std::stoul(word)));
  } else if (IsAddressNumber(word)) {
    group.number = true;
  } else if (const Province* p = ProvinceTyped(word)) {
    AddWrittenNames(*p, group);
  } else if (EqualsIgnoringAsciiCase(word, "jiha")) {
    group.texts.front() = kUnderground;  // an underground number as English addresses write it
  } else if (IsAscii(word)) {
    group.fold_case = true;
  } else if (names != nullptr && EndsWithCharacters(word, kDong)) {
    group.codes = names->CodesOfAdminDong(word);
  }
  return group;
}

}  // namespace

bool WordsNeedNames(const Cp949View& term) {
  const std::vector<std::string> words = Words(term.bytes());
  return std::any_of(words.begin(), words.end(), [](const std::string& w) {
    return std::any_of(w.begin(), w.end(), IsAsciiLetter) || (!IsAscii(w) && EndsWithCharacters(w, kDong));
  });
}

std::vector<TermGroup> ReadAddressTerms(std::string_view term, const CodeNames* names) {
  std::vector<std::string> words = Words(term);
  DropCountry(words);
  MendRoadNumbers(words);
  // The detail is matched as written: no name is looked up for it. A code
  // pasted after the address still names its code.
  const std::size_t detail_start = DetailStart(words);
  std::vector<TermGroup> detail;
  for (std::size_t k = detail_start; k < words.size(); ++k) {
    if (IsFiveDigitCode(words[k])) {
      detail.push_back(GroupOfWord(words[k], names));
      continue;
    }
    TermGroup group;
    group.texts.push_back(words[k]);
    group.fold_case = std::any_of(words[k].begin(), words[k].end(), IsAsciiLetter);
    group.detail = true;
    detail.push_back(std::move(group));
  }
  words.resize(detail_start);

  std::vector<TermGroup> groups;
  std::size_t i = 0;
  while (i < words.size()) {
    // A run of ASCII words may spell English names: Nonhyeon-ro 8-gil, Gangnam-gu, Seoul.
    std::size_t end = i;
    while (end < words.size() && IsAscii(words[end])) ++end;
    if (end == i) {
      groups.push_back(GroupOfWord(words[i++], names));
      continue;
    }
    std::vector<CodeNames::EnglishMatch> found;
    // Numbers alone (67, 1183-10) spell no name: only a run with a letter is looked up.
    const bool letters =
        std::any_of(words.begin() + static_cast<std::ptrdiff_t>(i), words.begin() + static_cast<std::ptrdiff_t>(end),
                    [](const std::string& w) { return std::any_of(w.begin(), w.end(), IsAsciiLetter); });
    if (names != nullptr && letters) {
      std::vector<std::string_view> run(words.begin() + static_cast<std::ptrdiff_t>(i),
                                        words.begin() + static_cast<std::ptrdiff_t>(end));
      found = names->FindEnglishNames(run);
    }
    // A place the data's names do not know (a code that spans two districts
    // has the English of one) does not stop the rest of a paste from matching.
    auto add_unknown = [&](const std::string& word) {
      if (names == nullptr || !names->has_names() || !IsEnglishPlace(word)) groups.push_back(GroupOfWord(word, names));
    };
    std::size_t at = 0;
    for (CodeNames::EnglishMatch& match : found) {
      for (; at < match.first; ++at) add_unknown(words[i + at]);
      TermGroup group;
      group.texts = std::move(match.korean);
      // Gangwon-do is 강원도 in one edition and 강원특별자치도 in another.
      for (std::size_t k = 0, n = group.texts.size(); k < n; ++k) {
        if (const Province* p = ProvinceTyped(group.texts[k])) AddWrittenNames(*p, group);
      }
      if (!group.texts.empty()) groups.push_back(std::move(group));
      at = match.first + match.count;
    }
    for (; i + at < end; ++at) add_unknown(words[i + at]);
    i = end;
  }
  for (TermGroup& group : detail) groups.push_back(std::move(group));
  return groups;
}

}  // namespace marlix
