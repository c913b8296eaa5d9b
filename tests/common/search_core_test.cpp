// The search core: code normalisation, the four rules, the reader, the copy cut.
// Built natively and for Windows (run under Wine), so both builds answer alike.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "code_names.h"
#include "copy_cut.h"
#include "cp949_literal.h"
#include "postcode_search.h"
#include "search_test_support.h"

namespace marlix {
namespace {

using testing::operator""_cp949;

using testing::And;
using testing::Name;
using testing::Or;
using testing::Postcode;
using testing::SearchText;
using Lines = std::vector<std::string>;

std::string Normalised(std::string_view term) {
  std::array<char, kCodeMaxBytes + 1> out;
  return std::string(NormalisePostcode(term, out));
}

TEST(NormalisePostcode, FollowsTheTypedDigitsAndHyphens) {
  const std::pair<const char*, const char*> cases[] = {
      {"123456", "123-456"},
      {"123-456", "123-456"},
      {"123 456", "123-456"},
      {"1234", "123-4"},
      {"123", "123"},
      {"12", "12"},
      {"1", "1"},
      {"", ""},
      {"abc", ""},
      {"12345678", "123-456"},
      {"123-4567", "123-456"},
      {"abc 123456", "123-4"},
      {"1-2345", "1-2-345"},
      {"123--456", "123--45"},
      {"-123456", "-12-345"},
      {"1a2b3c4d5", "123-4"},
      {"１２３", ""},
      {"135080", "135-080"},
  };
  for (const auto& [term, code] : cases) EXPECT_EQ(Normalised(term), code) << "term '" << term << "'";
}

const std::string kSample =
    "135-080 서울 강남구 역삼동\r\n"_cp949
    "135-081 서울 강남구 역삼1동\r\n"_cp949
    "153-600 서울 금천구 서울금천우체국사서함\r\n"_cp949
    "619-961 부산 기장군 장안읍 덕선리\r\n"_cp949
    "123-456 대전 동구 가양2동 한국폴리텍Ⅳ대학 (1∼3동)\r\n"_cp949
    "123-456 대전 동구 가양2동 한국폴리텍Ⅳ대학 (1∼3동)\r\n"_cp949
    "339-001 세종 가람동\r\n"_cp949;

TEST(PostcodeRule, ListsLinesBeginningWithTheCode) {
  EXPECT_EQ(SearchText(kSample, Postcode("135080")), (Lines{
                                                         "135-080 서울 강남구 역삼동"_cp949,
                                                     }));
  EXPECT_EQ(SearchText(kSample, Postcode("135-08")).size(), 2u);
  EXPECT_EQ(SearchText(kSample, Postcode("13")).size(), 2u);
  // Duplicate lines are listed twice, in file order.
  EXPECT_EQ(SearchText(kSample, Postcode("123 456")).size(), 2u);
  // Under two code bytes nothing matches, not even everything.
  EXPECT_TRUE(SearchText(kSample, Postcode("1")).empty());
  EXPECT_TRUE(SearchText(kSample, Postcode("")).empty());
  EXPECT_TRUE(SearchText(kSample, Postcode("역삼동"_cp949)).empty());
  // The code must begin the line, not stand inside it.
  EXPECT_TRUE(SearchText("999-999 x 135-080\n", Postcode("135080")).empty());
}

// Today's five-digit lines beside the old ones, each judged by its own form.
const std::string kMixed =
    "06315 서울특별시 강남구 논현로8길 67 (개포동, Artespace) 개포동 1183-10\r\n"_cp949
    "135-080 서울 강남구 역삼동\r\n"_cp949
    "06316 서울특별시 강남구 개포로 1 (개포동) 개포동 12\r\n"_cp949
    "06301x이음새 없는 줄\n"_cp949
    "063150 여섯 자리 숫자\n"_cp949
    "0631-5 하이픈\n"_cp949
    "06324\n"
    "30065 세종특별자치시 라온로 7 (가람동) 가람동 1\n"_cp949;

TEST(FiveDigitLines, AreFoundByTheirOwnCodeAndAddress) {
  const std::pair<SearchRequest, Lines> cases[] = {
      // The term's digits, whatever stands between them, begin the five-digit code.
      {Postcode("06315"), {"06315 서울특별시 강남구 논현로8길 67 (개포동, Artespace) 개포동 1183-10"_cp949}},
      {Postcode("063-15"), {"06315 서울특별시 강남구 논현로8길 67 (개포동, Artespace) 개포동 1183-10"_cp949}},
      {Postcode("063 15"), {"06315 서울특별시 강남구 논현로8길 67 (개포동, Artespace) 개포동 1183-10"_cp949}},
      {Postcode("0631-5"), {"06315 서울특별시 강남구 논현로8길 67 (개포동, Artespace) 개포동 1183-10"_cp949}},
      {Postcode("0631"),
       {"06315 서울특별시 강남구 논현로8길 67 (개포동, Artespace) 개포동 1183-10"_cp949,
        "06316 서울특별시 강남구 개포로 1 (개포동) 개포동 12"_cp949}},
      // Three digits begin the codes of both forms ("063150" and "0631-5"
      // are not five-digit lines and keep the six-digit rule).
      {Postcode("063"),
       {"06315 서울특별시 강남구 논현로8길 67 (개포동, Artespace) 개포동 1183-10"_cp949,
        "06316 서울특별시 강남구 개포로 1 (개포동) 개포동 12"_cp949, "06301x이음새 없는 줄"_cp949,
        "063150 여섯 자리 숫자"_cp949, "0631-5 하이픈"_cp949, "06324"}},
      // Six digits begin no five-digit code.
      {Postcode("063150"), {}},
      {Postcode("135080"), {"135-080 서울 강남구 역삼동"_cp949}},
      {Postcode("3"), {}},
      {Postcode("가나다 30"_cp949), {}},
      // Words are looked for from byte 6, after the code and its separator.
      {Name("논현로8길 67"_cp949), {"06315 서울특별시 강남구 논현로8길 67 (개포동, Artespace) 개포동 1183-10"_cp949}},
      {Name("개포동 1183"_cp949), {"06315 서울특별시 강남구 논현로8길 67 (개포동, Artespace) 개포동 1183-10"_cp949}},
      // Only five digits and a space make a five-digit line, as the publisher
      // writes and releases them; any other line keeps the six-digit rule.
      {Name("이음새"_cp949), {}},
      {Postcode("06301"), {}},
      {Name("063"), {}},
      {Name("15"), {}},
      // The composite rules look at the whole line, code included.
      {And("0631", "개포로"_cp949), {"06316 서울특별시 강남구 개포로 1 (개포동) 개포동 12"_cp949}},
      {Or("30065", "06324"), {"06324", "30065 세종특별자치시 라온로 7 (가람동) 가람동 1"_cp949}},
  };
  // The same lines sorted: a code is looked up there and finds what reading finds.
  std::vector<std::string> mixed_lines;
  for (std::string_view rest = kMixed; !rest.empty();) {
    std::string_view line = rest.substr(0, rest.find('\n'));
    rest.remove_prefix(line.size() + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    mixed_lines.emplace_back(line);
  }
  const testing::TempFile sorted(testing::SortedLines(mixed_lines, "\r\n") + "135-089 끝 줄"_cp949);
  for (const auto& [request, lines] : cases) {
    EXPECT_EQ(SearchText(kMixed, request), lines) << request.term1.bytes() << " / " << request.term2.bytes();
    if (request.rule != MatchRule::kPostcode) continue;
    const testing::SortedAndScanned found = testing::SearchSorted(sorted.path(), request);
    EXPECT_EQ(found.looked_up, found.scanned) << request.term1.bytes();
    EXPECT_EQ(found.looked_up.size(), lines.size()) << request.term1.bytes();
  }
}

// Five-digit words as people type or paste them; the exact address first.
TEST(FiveDigitWords, AreReadAsPeopleWriteThem) {
  const std::string data_lines =
      "06302 서울특별시 강남구 논현로8길 17 (개포동) 개포동 7\n"_cp949
      "06315 서울특별시 강남구 논현로8길 67 (개포동, Artespace) 개포동 1183-10\n"_cp949
      "06315 서울특별시 강남구 논현로8길 7-1 (개포동) 개포동 1183-7\n"_cp949
      "06316 서울특별시 강남구 논현로8길 7 (개포동) 개포동 1190\n"_cp949
      "06236 서울특별시 강남구 테헤란로 123 (역삼동, 여삼빌딩) 역삼동 648-23\n"_cp949
      "25627 강원특별자치도 강릉시 강동면 돌평길 58-16 강동면 모전리 735\n"_cp949
      "135-080 서울 강남구 역삼동 서울시 논현로8길67\n"_cp949;
  const std::string road67 = "06315 서울특별시 강남구 논현로8길 67 (개포동, Artespace) 개포동 1183-10"_cp949;
  const std::string road7 = "06316 서울특별시 강남구 논현로8길 7 (개포동) 개포동 1190"_cp949;
  const std::string road17 = "06302 서울특별시 강남구 논현로8길 17 (개포동) 개포동 7"_cp949;
  const std::string road7_1 = "06315 서울특별시 강남구 논현로8길 7-1 (개포동) 개포동 1183-7"_cp949;
  const std::string teheran = "06236 서울특별시 강남구 테헤란로 123 (역삼동, 여삼빌딩) 역삼동 648-23"_cp949;
  const std::string gangneung = "25627 강원특별자치도 강릉시 강동면 돌평길 58-16 강동면 모전리 735"_cp949;
  const std::string old_line = "135-080 서울 강남구 역삼동 서울시 논현로8길67"_cp949;
  const std::pair<std::string_view, Lines> cases[] = {
      // The number joined to its road, the 길 number apart from it.
      {"논현로8길67"_cp949, {road67, old_line}},
      {"논현로 8길 67"_cp949, {road67, old_line}},
      {"테헤란로123"_cp949, {teheran}},
      {"개포동1183-10"_cp949, {road67}},
      // The exact road address first, then what only holds the words, in file
      // order; a six-digit line keeps its place among the first.
      {"논현로8길 7"_cp949, {road7, old_line, road17, road67, road7_1}},
      {"개포동 7"_cp949, {road17, road67, road7_1, road7}},
      // The 시도 by any of its names; old editions' and new names of a renamed one.
      {"서울시 강남구 논현로8길 67"_cp949, {road67, old_line}},
      {"서울 테헤란로 123"_cp949, {teheran}},
      {"강원도 돌평길 58-16"_cp949, {gangneung}},
      {"강원특별자치도 돌평길"_cp949, {gangneung}},
      // A paste: commas, brackets, the country and a code that narrows it.
      {"대한민국 서울특별시 강남구 논현로8길 67 (개포동, Artespace)"_cp949, {road67}},
      {"(06316) 논현로8길 7"_cp949, {road7}},
      {"06315", {road67, road7_1}},
      // English as typed in a building name; case does not matter.
      {"artespace", {road67}},
      {"Rep. of KOREA ARTESPACE", {road67}},
      {"대한민국"_cp949, {}},
      // The detail after the address's number (unit, floor, shop, a comma
      // between) excludes nothing: the address lists what it lists without it.
      // Six-digit lines keep their rule: every word as typed.
      {"서울시 강남구 논현로8길 67, 1층"_cp949, {road67}},
      {"논현로8길 67 101동 1203호"_cp949, {road67}},
      {"테헤란로 123 3층 B102호 (우리집)"_cp949, {teheran}},
      {"논현로8길 7 지하1층"_cp949, {road7, road17, road67, road7_1}},
      {"개포동 1183-10 2층"_cp949, {road67}},
      {"돌평길 58-16 가동"_cp949, {gangneung}},
      // Lines that hold the detail as whole words come first among equals.
      {"논현로8길 7 artespace"_cp949, {road7, road67, road17, road7_1}},
      {"논현로8길 67 (개포동, Artespace) 개포동 1183-10"_cp949, {road67}},
      // Before the number every word counts; a code after it still narrows.
      {"부산 논현로8길 67 3층"_cp949, {}},
      {"3층 논현로8길 67"_cp949, {}},
      {"논현로8길 7, 06316"_cp949, {road7}},
  };
  // Without the six-digit line, a file known to hold only five-digit lines
  // lists the same without looking for the old lines' needle.
  const std::string five_only = std::string(data_lines).substr(0, std::string(data_lines).find("135-080"));
  for (const auto& [term, lines] : cases) {
    EXPECT_EQ(SearchText(data_lines, Name(term)), lines) << term;
    SearchRequest known = Name(term);
    known.five_digit_only = true;
    EXPECT_EQ(SearchText(five_only, known), SearchText(five_only, Name(term))) << term;
  }
}

// English names and 행정동 from post.csv: as typed or pasted, in any case.
TEST(FiveDigitWords, FindEnglishNamesAndTheAdministrativeDong) {
  const std::string data_lines =
      "06315 서울특별시 강남구 논현로8길 67 (개포동, Artespace) 개포동 1183-10\n"_cp949
      "06316 서울특별시 강남구 논현로8길 7 (개포동) 개포동 1190\n"_cp949
      "25627 강원도 강릉시 강동면 돌평길 58-16 강동면 모전리 735\n"_cp949;
  const CodeNames names(
      "우편번호,시도,시군구,도로명 수,건물 수,시도 영문,시군구 영문,행정동,읍면,도로명\r\n"_cp949
      "06315,서울특별시,강남구,1,2,Seoul,Gangnam-gu,개포4동,,논현로8길=Nonhyeon-ro 8-gil\r\n"_cp949
      "06316,서울특별시,강남구,1,1,Seoul,Gangnam-gu,개포2동,,논현로8길=Nonhyeon-ro 8-gil\r\n"_cp949
      "25627,강원특별자치도,평창군,1,1,Gangwon-do,Pyeongchang-gun,강동면,강동면=Gangdong-myeon,돌평길=Dolpyeong-gil\r\n"_cp949);
  const std::string road67 = "06315 서울특별시 강남구 논현로8길 67 (개포동, Artespace) 개포동 1183-10"_cp949;
  const std::string road7 = "06316 서울특별시 강남구 논현로8길 7 (개포동) 개포동 1190"_cp949;
  const std::string gangneung = "25627 강원도 강릉시 강동면 돌평길 58-16 강동면 모전리 735"_cp949;
  const std::pair<std::string_view, Lines> cases[] = {
      {"Nonhyeon-ro 8-gil 67", {road67}},
      {"nonhyeonro 8gil 7", {road7, road67}},
      {"67, Nonhyeon-ro 8-gil, Gangnam-gu, Seoul 06315", {road67}},
      {"개포4동 논현로8길"_cp949, {road67}},
      {"개포2동"_cp949, {road7}},
      // The data's 시도 by either of its names; a district the names do not
      // know (the code's row is another's) does not stop the paste.
      {"58-16, Dolpyeong-gil, Gangdong-myeon, Gangneung-si, Gangwon-do 25627", {gangneung}},
      {"Busan-si Dolpyeong-gil", {gangneung}},
  };
  for (const auto& [term, lines] : cases) {
    SearchRequest request = Name(term);
    request.names = &names;
    EXPECT_EQ(SearchText(data_lines, request), lines) << term;
  }
}

TEST(WordsRule, NeedsEveryWordInTheAddress) {
  EXPECT_EQ(SearchText(kSample, Name("역삼"_cp949)).size(), 2u);
  EXPECT_EQ(SearchText(kSample, Name("  강남구   역삼1동 "_cp949)), (Lines{"135-081 서울 강남구 역삼1동"_cp949}));
  EXPECT_EQ(SearchText(kSample, Name("역삼1동 강남구"_cp949)).size(), 1u);  // any order
  EXPECT_TRUE(SearchText(kSample, Name("역삼 부산"_cp949)).empty());
  EXPECT_TRUE(SearchText(kSample, Name("")).empty());
  EXPECT_TRUE(SearchText(kSample, Name("   ")).empty());
  // The code and its separator are not part of the address.
  EXPECT_TRUE(SearchText(kSample, Name("135")).empty());
  EXPECT_TRUE(SearchText("12345678\n1234567 \n", Name("8")).empty());
  EXPECT_EQ(SearchText("1234567 8\n", Name("8")), (Lines{"1234567 8"}));
  // Only the space separates words; a tab is part of a word.
  EXPECT_TRUE(SearchText(kSample, Name("역삼\t강남구"_cp949)).empty());
}

TEST(WordsRule, CountsOnlyWholeCharacters) {
  // The bytes of "천우" hold those of "동", and "선리" those of "구".
  EXPECT_EQ(SearchText(kSample, Name("동"_cp949)).size(), 5u);
  EXPECT_EQ(SearchText(kSample, Name("구"_cp949)).size(), 5u);
  for (const std::string& line : SearchText(kSample, Name("동"_cp949))) {
    EXPECT_EQ(line.find("금천우"_cp949), std::string::npos) << line;
  }
  EXPECT_EQ(SearchText(kSample, Name("천우"_cp949)).size(), 1u);
  // Digits, the hyphen and symbols from the two-byte range still match.
  EXPECT_EQ(SearchText(kSample, Name("1∼3동)"_cp949)).size(), 2u);
  EXPECT_EQ(SearchText(kSample, Name("Ⅳ"_cp949)).size(), 2u);
}

TEST(WholeCharacters, AHalfCharacterAtTheEndIsLeftOut) {
  EXPECT_EQ(WithoutHalfCharacterAtEnd("135-806 개포"_cp949 + "\xB0"), "135-806 개포"_cp949);
  EXPECT_EQ(WithoutHalfCharacterAtEnd("\xB0"), "");
  // A lead byte takes the byte after it, whatever that is.
  EXPECT_EQ(WithoutHalfCharacterAtEnd("a\xB0 \xB0"), "a\xB0 ");
  EXPECT_EQ(WithoutHalfCharacterAtEnd("\xB0\xB0"), "\xB0\xB0");
  EXPECT_EQ(WithoutHalfCharacterAtEnd("개포1동"_cp949), "개포1동"_cp949);
  EXPECT_EQ(WithoutHalfCharacterAtEnd(""), "");
  // The start of the character that holds a byte: a second byte's is the byte before.
  EXPECT_EQ(CharacterStart("a\xB0\xB0", 2), 1u);
  EXPECT_EQ(CharacterStart("a\xB0\xB0", 3), 3u);
  EXPECT_EQ(CharacterStart("\xB0 \xB0", 1, 0), 0u) << "a space after a lead byte is its second half";
  EXPECT_EQ(CharacterStart("\xB0\xB0\xB0", 3, 2), 2u) << "walked on from a boundary found before";
}

TEST(CompositeRules, LookAtTheWholeLine) {
  EXPECT_EQ(SearchText(kSample, And("서울"_cp949, "역삼"_cp949)).size(), 2u);
  EXPECT_EQ(SearchText(kSample, And("135-08", "1동"_cp949)).size(), 1u);  // the code takes part
  EXPECT_EQ(SearchText(kSample, And("역삼"_cp949, "")).size(), 2u);
  EXPECT_EQ(SearchText(kSample, And("", "")).size(), 7u);
  EXPECT_EQ(SearchText(kSample, Or("부산"_cp949, "세종"_cp949)).size(), 2u);
  EXPECT_EQ(SearchText(kSample, Or("부산"_cp949, "")).size(), 7u);
  EXPECT_EQ(SearchText(kSample, Or("없는곳"_cp949, "없는데"_cp949)).size(), 0u);
  // A line holding both terms is listed once.
  EXPECT_EQ(SearchText(kSample, Or("강남구"_cp949, "역삼"_cp949)).size(), 2u);
  // The whole-character rule holds here too.
  EXPECT_EQ(SearchText(kSample, And("동"_cp949, "금천"_cp949)).size(), 0u);
  EXPECT_EQ(SearchText(kSample, Or("동"_cp949, "구"_cp949)).size(), 7u - 1u);
}

TEST(Request, IsCutToTheWindowLimits) {
  // Terms keep their first 127 bytes.
  const std::string long_term = std::string(127, 'a') + "b";
  const LineMatcher cut(And(long_term, ""));
  EXPECT_EQ(cut.term1(), std::string(127, 'a'));
  EXPECT_EQ(SearchText("000-000 " + std::string(127, 'a') + "\n", And(long_term, "")).size(), 1u);
  // 64 one-byte words fill term 1 and are all kept.
  std::string many;
  for (int i = 0; i < 64; ++i) many += "x ";
  EXPECT_EQ(LineMatcher(Name(many)).word_count(), 64u);
}

TEST(Reader, TakesLinesAsTextModeWould) {
  // CR before LF goes; a CR elsewhere stays; the last line needs no line feed.
  EXPECT_EQ(SearchText("111-111 a\r\n111-112 b\n111-113 c\rd\n111-114 e", Or("", "")),
            (Lines{"111-111 a", "111-112 b", "111-113 c\rd", "111-114 e"}));
  EXPECT_EQ(SearchText("111-114 e", Name("e")), (Lines{"111-114 e"}));
  EXPECT_EQ(SearchText("111-114 e\r", Or("", "")), (Lines{"111-114 e\r"}));
  EXPECT_TRUE(SearchText("", Or("", "")).empty());
  EXPECT_EQ(SearchText("\n\n", Or("", "")), (Lines{"", ""}));
  // A NUL ends the line's text, as the list would show it.
  EXPECT_EQ(SearchText(std::string("111-111 ab\0cd\n", 14), Or("", "")), (Lines{"111-111 ab"}));
  EXPECT_TRUE(SearchText(std::string("111-111 ab\0cd\n", 14), Name("cd")).empty());
  // Bytes that are not CP949 are searched like any others.
  EXPECT_EQ(SearchText("111-111 \xFF\x80\x81 x\n", Name("x")).size(), 1u);
  EXPECT_EQ(SearchText("111-111 \x81\n", Name("\x81")).size(), 1u);
}

TEST(Reader, KeepsLongLinesWhole) {
  const std::string line300 = "111-111 " + std::string(292, 'a');
  const std::string text = line300 + "\n222-222 b\n";
  EXPECT_EQ(SearchText(text, Or("", "")), (Lines{line300, "222-222 b"}));
  EXPECT_EQ(SearchText(text, Postcode("222")).size(), 1u);
  // A line past the longest we keep is still one line: its head is listed.
  const std::string huge = "333-333 " + std::string(kLineMaxBytes + 5000, 'z') + "tail";
  const Lines all = SearchText(huge + "\r\n444-444 q\n", Or("", ""));
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0], huge.substr(0, kLineMaxBytes));
  EXPECT_EQ(all[1], "444-444 q");
  EXPECT_TRUE(SearchText(huge + "\n", Name("tail")).empty());
  EXPECT_EQ(SearchText(huge, Postcode("333333")).size(), 1u);
}

TEST(Reader, ReportsAFileItCannotOpen) {
  std::vector<std::string> lines;
  auto keep = [&](std::string_view line) { lines.emplace_back(line); };
  const SearchOutcome outcome = SearchFile("no/such/dir/postcode.txt", Or("", ""), keep);
  EXPECT_EQ(outcome.status, SearchStatus::kOpenFailed);
  EXPECT_NE(outcome.error, 0);
  EXPECT_TRUE(lines.empty());
}

// A list that ends the search by throwing (a window that went away) must
// leave the data file closed: on Windows a file still open keeps the next
// download from putting the new file in its place.
TEST(Reader, ClosesTheFileWhenTheListThrows) {
  auto open_files = [] {
#ifdef _WIN32
    return 0;
#else
    const std::filesystem::directory_iterator fds("/proc/self/fd");
    return static_cast<int>(std::distance(begin(fds), end(fds)));
#endif
  };
  SearchRequest sorted_code = Postcode("135");
  sorted_code.sorted = true;
  for (const SearchRequest& request : {Or("", ""), Name("강남구"_cp949), Postcode("135"), sorted_code}) {
    const testing::TempFile data(testing::SortedLines(
        {"135-080 서울 강남구 역삼동"_cp949, "135-081 서울 강남구 역삼1동"_cp949, "619-961 부산 기장군"_cp949},
        "\r\n"));
    const testing::TempFile download("135-999 새 자료\n"_cp949);
    const int before = open_files();
    auto refuse = [](std::string_view) -> bool { throw std::runtime_error("the list went away"); };
    EXPECT_THROW(SearchFile(data.path().c_str(), request, refuse), std::runtime_error) << request.term1.bytes();
    EXPECT_EQ(open_files(), before) << request.term1.bytes();
    std::error_code error;
    std::filesystem::rename(download.path(), data.path(), error);
    EXPECT_FALSE(error) << request.term1.bytes() << ": " << error.message();
  }
}

// The block scan must answer exactly as testing each line on its own would,
// wherever lines fall against the read blocks. Random files of short lines in
// a small alphabet (Hangul, digits, hyphen, space, CR, stray lead bytes) make
// hits, near-hits and straddling lines common.
TEST(BlockScan, AgreesWithLineByLine) {
  std::mt19937 rng(20261207);
  const std::vector<std::string> pieces = {"동"_cp949, "구"_cp949, "천"_cp949, "우"_cp949, "1",  "2",     "-",
                                           " ",        "\r",       "a",        "\xB5",     "35", "06315", "∼"_cp949};
  auto piece = [&] { return pieces[rng() % pieces.size()]; };
  for (int round = 0; round < 6; ++round) {
    std::string text;
    std::vector<std::string> lines;
    while (text.size() < 700 * 1024) {
      std::string line;
      const int n = static_cast<int>(rng() % 30);
      for (int i = 0; i < n; ++i) line += piece();
      if (rng() % 500 == 0) line += std::string(kLineMaxBytes / 2 + rng() % kLineMaxBytes, 'L');
      const bool crlf = rng() % 4 == 0;
      text += line + (crlf ? "\r\n" : "\n");
      // What a line reads as: the CR right before the line feed is not text.
      if (!crlf && !line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
    }
    testing::TempFile file(text);
    for (int q = 0; q < 25; ++q) {
      std::string t1, t2;
      for (int i = static_cast<int>(rng() % 4); i > 0; --i) t1 += piece();
      for (int i = static_cast<int>(rng() % 4); i > 0; --i) t2 += piece();
      const std::string words = t1 + " " + t2;
      const SearchRequest requests[] = {Postcode(t1), Name(words), And(t1, t2), Or(t1, t2)};
      for (const SearchRequest& request : requests) {
        const LineMatcher matcher(request);
        // Rank by rank, each in file order.
        std::array<Lines, LineMatcher::kRanks> ranked;
        for (std::string line : lines) {
          if (line.size() > kLineMaxBytes) line.resize(kLineMaxBytes);
          if (matcher.Matches(line)) ranked[matcher.Rank(line)].push_back(line);
        }
        Lines expected;
        for (const Lines& rank : ranked) expected.insert(expected.end(), rank.begin(), rank.end());
        ASSERT_EQ(testing::SearchLines(file.path(), request), expected)
            << "round " << round << " rule " << static_cast<int>(matcher.rule()) << " terms '" << t1 << "' '" << t2
            << "'";
        // Either way each line is told where its own bytes lie in the file.
        Lines in_memory, streamed;
        std::size_t misplaced = 0;
        auto keep_in = [&](Lines& kept) {
          return [&](std::string_view line, LineOffset offset) {
            kept.emplace_back(line);
            if (text.compare(offset, line.size(), line) != 0) ++misplaced;
          };
        };
        auto keep = keep_in(in_memory);
        SearchBytes(text, request, keep);
        ASSERT_EQ(in_memory, expected) << "in memory, round " << round << " terms '" << t1 << "' '" << t2 << "'";
        auto keep_streamed = keep_in(streamed);
        SearchFile(file.path().c_str(), request, keep_streamed);
        ASSERT_EQ(misplaced, 0u) << "round " << round << " terms '" << t1 << "' '" << t2 << "'";
      }
    }
  }
}

// A list fills while the file is read: the best lines go on as they are found,
// and only an address with detail holds any back for the end.
TEST(BlockScan, HandsTheBestLinesOnAsItReads) {
  std::string text;
  while (text.size() < 1024 * 1024) text += "06315 서울특별시 강남구 논현로8길 67 (개포동)\r\n"_cp949;
  testing::TempFile file(text);
  const SearchRequest requests[] = {Name("논현로8길"_cp949), Name("논현로8길 67"_cp949), Or("", ""),
                                    And("강남구"_cp949, "개포동"_cp949)};
  for (const SearchRequest& request : requests) {
    int blocks = 0;
    int blocks_at_first_line = -1;
    auto count = [&] { return ++blocks, true; };
    const BlockHook between_blocks(count);
    auto sink = [&](std::string_view, LineOffset) {
      if (blocks_at_first_line < 0) blocks_at_first_line = blocks;
    };
    SearchFile(file.path().c_str(), request, sink, &between_blocks);
    EXPECT_GE(blocks_at_first_line, 0) << request.term1.bytes();
    EXPECT_LT(blocks_at_first_line, blocks) << request.term1.bytes();
  }
}

TEST(CopyCut, TakesTheCodeTheAddressOrTheLine) {
  const std::string_view line = "135-080 서울 강남구 역삼동"_cp949;
  EXPECT_EQ(CutForCopy(line, kCopyPostcode), "135-080");
  EXPECT_EQ(CutForCopy(line, kCopyAddress), "서울 강남구 역삼동"_cp949);
  EXPECT_EQ(CutForCopy(line, kCopyWholeLine), line);
  EXPECT_EQ(CutForCopy(line, -1), line);
  EXPECT_EQ(CutForCopy(line, 7), line);
  EXPECT_EQ(CutForCopy("12345", kCopyPostcode), "12345");
  EXPECT_EQ(CutForCopy("12345678", kCopyAddress), "");
  EXPECT_EQ(CutForCopy("123456789", kCopyAddress), "9");
  EXPECT_EQ(CutForCopy("", kCopyPostcode), "");
  // A five-digit line gives its five digits and the address after its separator.
  const std::string_view today = "06315 서울특별시 강남구 논현로8길 67"_cp949;
  EXPECT_EQ(CutForCopy(today, kCopyPostcode), "06315");
  EXPECT_EQ(CutForCopy(today, kCopyAddress), "서울특별시 강남구 논현로8길 67"_cp949);
  EXPECT_EQ(CutForCopy(today, kCopyWholeLine), today);
  EXPECT_EQ(CutForCopy("06324 ", kCopyAddress), "");
  EXPECT_EQ(CutForCopy("063150 x", kCopyPostcode), "063150 ");
}

}  // namespace
}  // namespace marlix
