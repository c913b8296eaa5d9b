// The search on the real data file, checked against an oracle that never
// touches the search code: the same entries in UTF-8, where a substring test
// cannot start inside a character.
#include <gtest/gtest.h>
#include <iconv.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "postcode_search.h"
#include "search_test_support.h"
#include "search_window.h"

namespace marlix {
namespace {

using testing::Postcode;

std::vector<std::string> ReadLines(const std::string& path, bool crlf) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) {
    if (crlf && !line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// The oracle's texts, UTF-8 (as narrow literals are too).
std::string U8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

std::string ToCp949(const std::string& utf8) {
  iconv_t cd = iconv_open("CP949", "UTF-8");
  std::string out(utf8.size() * 2 + 1, '\0');
  char* src = const_cast<char*>(utf8.data());
  char* dst = out.data();
  std::size_t src_left = utf8.size(), dst_left = out.size();
  const std::size_t r = iconv(cd, &src, &src_left, &dst, &dst_left);
  iconv_close(cd);
  EXPECT_NE(r, static_cast<std::size_t>(-1)) << utf8;
  out.resize(out.size() - dst_left);
  return out;
}

class RealData : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    cp949_ = new std::vector<std::string>(ReadLines(MARLIX_REAL_DATA, true));
    std::string utf8_path = MARLIX_REAL_DATA;
    utf8_path.replace(utf8_path.rfind(".txt"), 4, ".utf8.txt");
    utf8_ = new std::vector<std::string>(ReadLines(utf8_path, false));
  }
  static void TearDownTestSuite() {
    delete cp949_;
    delete utf8_;
  }

  void SetUp() override {
    ASSERT_EQ(cp949_->size(), 52144u) << "the real data file is missing: " << MARLIX_REAL_DATA;
    ASSERT_EQ(utf8_->size(), cp949_->size());
  }

  // The CP949 lines whose UTF-8 twins pass `keep`.
  template <class Keep>
  static std::vector<std::string> Expected(Keep keep) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < utf8_->size(); ++i) {
      if (keep((*utf8_)[i])) out.push_back((*cp949_)[i]);
    }
    return out;
  }

  static std::vector<std::string> Search(int tab, std::string_view kind, const std::string& t1_utf8,
                                         const std::string& t2_utf8 = "") {
    const std::string t1 = ToCp949(t1_utf8), t2 = ToCp949(t2_utf8);
    return testing::SearchLines(MARLIX_REAL_DATA, RequestFromWindow(tab, kind, Cp949View(t1), Cp949View(t2)));
  }

  static bool InAddress(const std::string& line, const std::string& word) {
    return line.size() > 8 && line.find(word, 8) != std::string::npos;
  }

  static std::vector<std::string>* cp949_;
  static std::vector<std::string>* utf8_;
};

std::vector<std::string>* RealData::cp949_ = nullptr;
std::vector<std::string>* RealData::utf8_ = nullptr;

TEST_F(RealData, CodeSearchListsTheLinesOfThatCode) {
  for (const std::string& term :
       std::vector<std::string>{"135080", "135-080", "135 080", "1350809", "135-08", "135", "69", "339-0"}) {
    // The code as a person would read the term: digits, a hyphen after three.
    std::string digits;
    for (char c : term) {
      if (c >= '0' && c <= '9') digits += c;
    }
    std::string code = digits.substr(0, 3);
    if (digits.size() > 3) code.append(1, '-').append(digits, 3, 3);
    if (term.find('-') != std::string::npos && digits.size() == 3) code += "-";
    const auto expected = Expected([&](const std::string& l) { return l.rfind(code, 0) == 0; });
    EXPECT_FALSE(expected.empty()) << term;
    EXPECT_EQ(Search(0, kKindPostcode, term), expected) << term;
  }
  EXPECT_EQ(Search(0, kKindPostcode, "135080").size(), 1u);
  EXPECT_TRUE(Search(0, kKindPostcode, "999999").empty());
}

// The lookup in a sorted file lists exactly what reading every line lists,
// for whole codes, prefixes of every length, the first and last codes and
// codes between those present.
TEST_F(RealData, SortedCodeLookupListsWhatReadingLists) {
  const testing::TempFile sorted(testing::SortedLines(*cp949_, "\r\n"));
  const std::string first = cp949_->front().substr(0, 7), last = cp949_->back().substr(0, 7);
  for (const std::string& term : std::vector<std::string>{
           "135080", "135-080", "1350809", "135-08", "135", "13", "69",    "339-0", "100-0", "10",
           "799-8",  "79",      "999999",  "000",    "1",   "",   "12345", "06315", first,   last}) {
    const testing::SortedAndScanned found = testing::SearchSorted(sorted.path(), Postcode(term));
    EXPECT_EQ(found.looked_up, found.scanned) << term;
  }
  EXPECT_EQ(testing::SearchSorted(sorted.path(), Postcode("13")).looked_up.size(),
            Expected([](const std::string& l) { return l.starts_with("13"); }).size());
}

TEST_F(RealData, NameSearchFindsWholeWordsInTheAddress) {
  const std::vector<std::vector<std::string>> queries = {{U8(u8"역삼동")},
                                                         {U8(u8"동")},
                                                         {U8(u8"구")},
                                                         {U8(u8"강남구"), U8(u8"역삼")},
                                                         {U8(u8"아파트"), U8(u8"서울"), "101"},
                                                         {U8(u8"∼")},
                                                         {U8(u8"Ⅳ")},
                                                         {U8(u8"사서함")},
                                                         {U8(u8"세종")},
                                                         {U8(u8"리")},
                                                         {U8(u8"산")}};
  for (const auto& words : queries) {
    std::string term;
    for (const std::string& w : words) term += "  " + w;
    const auto expected = Expected([&](const std::string& l) {
      for (const std::string& w : words) {
        if (!InAddress(l, w)) return false;
      }
      return true;
    });
    EXPECT_EQ(Search(0, kKindName, term), expected) << term;
  }
}

TEST_F(RealData, ByteTestWouldListLinesWithoutTheSyllable) {
  // Why a hit must start on a character: the bytes of "동" stand inside
  // 179 addresses that do not hold the syllable, such as "금천우체국".
  const std::string dong = ToCp949(U8(u8"동"));
  std::size_t false_hits = 0;
  for (std::size_t i = 0; i < cp949_->size(); ++i) {
    const bool bytes = (*cp949_)[i].find(dong, 8) != std::string::npos;
    if (bytes && !InAddress((*utf8_)[i], U8(u8"동"))) ++false_hits;
  }
  EXPECT_EQ(false_hits, 179u);
  const auto found = Search(0, kKindName, U8(u8"동"));
  const auto cheonu = ToCp949(U8(u8"153-600 서울 금천구 서울금천우체국사서함"));
  EXPECT_EQ(std::count(found.begin(), found.end(), cheonu), 0);
}

TEST_F(RealData, CompositeSearchLooksAtTheWholeLine) {
  struct Case {
    const char* kind;
    std::string t1, t2;
  };
  const Case cases[] = {{"AND", U8(u8"서울"), U8(u8"아파트")},
                        {"AND", "135-0", U8(u8"동")},
                        {"AND", U8(u8"경기"), ""},
                        {"OR", U8(u8"세종"), U8(u8"제주")},
                        {"OR", U8(u8"사서함"), U8(u8"1∼")},
                        {"OR", "", "x"},
                        {"AND", "", ""},
                        {"OR", U8(u8"없는말"), U8(u8"더없는말")}};
  for (const Case& c : cases) {
    const bool is_and = std::string(c.kind) == "AND";
    const auto expected = Expected([&](const std::string& l) {
      const bool a = l.find(c.t1) != std::string::npos, b = l.find(c.t2) != std::string::npos;
      return is_and ? a && b : a || b;
    });
    EXPECT_EQ(Search(1, c.kind, c.t1, c.t2), expected) << c.kind << " '" << c.t1 << "' '" << c.t2 << "'";
  }
}

}  // namespace
}  // namespace marlix
