// Many addresses at once, and the tables they come in. Narrow literals are
// CP949 where marked _cp949, UTF-8 otherwise.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "address_batch.h"
#include "code_names.h"
#include "cp949_literal.h"
#include "csv_table.h"
#include "line_form.h"
#include "opened_data.h"
#include "search_test_support.h"

namespace marlix {
namespace {

using testing::operator""_cp949;

// Two 중앙로 12 in two cities, a road with 7, 17 and 67, an underground
// number, a building name, a mountain lot, and an old six-digit line.
const std::string kLines =
    "06302 서울특별시 강남구 논현로8길 17 (개포동) 개포동 7\n"_cp949
    "06315 서울특별시 강남구 논현로8길 67 (개포동, Artespace) 개포동 1183-10\n"_cp949
    "06315 서울특별시 강남구 논현로8길 67 (개포동, 별관) 개포동 1183-11\n"_cp949
    "06316 서울특별시 강남구 논현로8길 7 (개포동) 개포동 1190\n"_cp949
    "06324 서울특별시 강남구 개포로 지하 420 (개포동, 개포동역) 개포동 195\n"_cp949
    "34000 대전광역시 중구 중앙로 12 (은행동) 은행동 1\n"_cp949
    "41900 대구광역시 중구 중앙로 12 (동인동1가, 샛별빌딩) 동인동1가 2\n"_cp949
    "28101 충청북도 청주시 상당구 중앙로10번길 3 (북문로1가) 북문로1가 산12-1\n"_cp949
    "135-806 서울 강남구 개포1동 경남아파트\r\n"_cp949
    "135-241 서울 강남구 개포1동\r\n"_cp949;

TEST(AddressBatch, GivesOneCodeOnlyWhenTheAddressLeavesOne) {
  struct Case {
    std::string_view address;
    AddressVerdict verdict;
    std::size_t codes;
    std::string_view code;  // the first candidate's
  };
  const Case cases[] = {
      {"논현로8길 7"_cp949, AddressVerdict::kMatch, 1, "06316"},
      {"서울시 강남구 논현로8길 7, 3층"_cp949, AddressVerdict::kMatch, 1, "06316"},
      {"논현로8길67 101동 1203호"_cp949, AddressVerdict::kMatch, 1, "06315"},
      {"개포동 1183-10 (우리집)"_cp949, AddressVerdict::kMatch, 1, "06315"},
      {"개포로 지하 420 B102호"_cp949, AddressVerdict::kMatch, 1, "06324"},
      {"artespace"_cp949, AddressVerdict::kMatch, 1, "06315"},
      {"충북도 청주시 상당구 중앙로10번길 3, 2층"_cp949, AddressVerdict::kMatch, 1, "28101"},
      {"북문로1가 산12-1 가동 101호"_cp949, AddressVerdict::kMatch, 1, "28101"},
      // Ambiguity is told: the same road and number in two cities.
      {"중앙로 12"_cp949, AddressVerdict::kCandidates, 2, "34000"},
      {"중앙로 12 2층"_cp949, AddressVerdict::kCandidates, 2, "34000"},
      // The detail that a line holds picks it.
      {"중앙로 12 샛별빌딩 3층"_cp949, AddressVerdict::kMatch, 1, "41900"},
      {"대전 중앙로 12"_cp949, AddressVerdict::kMatch, 1, "34000"},
      // Another city, a road the data lacks, a number no line of the road
      // holds (17 and 67 only hold 7's digits): never a near line.
      {"부산 논현로8길 7"_cp949, AddressVerdict::kNone, 0, ""},
      {"논현로9길 7"_cp949, AddressVerdict::kNone, 0, ""},
      {"논현로8길 6"_cp949, AddressVerdict::kNone, 0, ""},
      {"논현로8길 677"_cp949, AddressVerdict::kNone, 0, ""},
      {"강남구 7"_cp949, AddressVerdict::kNone, 0, ""},
      {"", AddressVerdict::kNone, 0, ""},
      {"   ", AddressVerdict::kNone, 0, ""},
      // Many lines of one code are one code; a 동 alone names several.
      {"논현로8길 67"_cp949, AddressVerdict::kMatch, 1, "06315"},
      {"개포동"_cp949, AddressVerdict::kCandidates, 4, "06302"},
      // Old lines: every word whole, as typed.
      {"서울 강남구 개포1동 경남아파트"_cp949, AddressVerdict::kMatch, 1, "135-806"},
      {"서울 강남구 개포1동 경남"_cp949, AddressVerdict::kNone, 0, ""},
      // The district's own line is what its name alone names.
      {"서울 강남구 개포1동"_cp949, AddressVerdict::kMatch, 1, "135-241"},
      {"강남구 개포1동"_cp949, AddressVerdict::kCandidates, 2, "135-806"},
  };
  const testing::TempFile data(kLines);
  std::vector<Cp949String> addresses;
  for (const Case& c : cases) addresses.emplace_back(Cp949View(c.address));
  OpenedData opened(data.path(), CodeNames());
  const BatchOutcome outcome = ConvertAddresses(opened, addresses);
  ASSERT_EQ(outcome.status, SearchStatus::kOk);
  ASSERT_EQ(outcome.results.size(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const AddressResult& r = outcome.results[i];
    EXPECT_EQ(r.verdict, cases[i].verdict) << cases[i].address;
    EXPECT_EQ(r.codes, cases[i].codes) << cases[i].address;
    EXPECT_EQ(r.candidates.size(), r.codes) << cases[i].address;
    if (!r.candidates.empty()) {
      EXPECT_TRUE(r.candidates[0].bytes().starts_with(cases[i].code)) << cases[i].address;
    }
    // The verdict's lines are those the name search lists first.
    if (r.verdict == AddressVerdict::kMatch && IsFiveDigitLine(r.candidates[0].bytes())) {
      const std::vector<std::string> listed = testing::SearchText(kLines, testing::Name(cases[i].address));
      ASSERT_FALSE(listed.empty()) << cases[i].address;
      EXPECT_EQ(listed[0].substr(0, 5), r.candidates[0].bytes().substr(0, 5)) << cases[i].address;
    }
  }

  // A cancelled conversion stops and says so; a missing file is told.
  OpenedData again(data.path(), CodeNames());
  const BatchOutcome cancelled = ConvertAddresses(again, addresses, [](double) { return false; });
  EXPECT_TRUE(cancelled.cancelled);
  EXPECT_TRUE(cancelled.results.empty());
  OpenedData missing("no/such/postcode.txt", CodeNames());
  EXPECT_EQ(ConvertAddresses(missing, addresses).status, SearchStatus::kOpenFailed);
}

TEST(CsvTable, ReadsWhatExcelWritesAndWritesWhatItReads) {
  const std::string utf8 =
      "주소,메모\r\n\"서울시 강남구 논현로8길 67, 1층\",\"그가 \"\"문 앞\"\"이라 함\"\r\n"
      "\"두 줄\r\n주소\",\r\n개포동 7,끝";
  const std::vector<TableRow> expected = {{"주소", "메모"},
                                          {"서울시 강남구 논현로8길 67, 1층", "그가 \"문 앞\"이라 함"},
                                          {"두 줄\r\n주소", ""},
                                          {"개포동 7", "끝"}};
  // UTF-8 with and without its mark, CP949, LF for CR LF: the same table.
  for (const std::string& bytes : {utf8, "\xEF\xBB\xBF" + utf8, Cp949FromUtf8(utf8).bytes()}) {
    const std::string text = TextAsUtf8(bytes);
    EXPECT_EQ(SeparatorOf(text), ',');
    EXPECT_EQ(ReadTable(text, ','), expected);
  }
  const std::size_t crlf = utf8.find("\r\n\"두");
  const std::string lf = utf8.substr(0, crlf) + "\n" + utf8.substr(crlf + 2);
  EXPECT_EQ(ReadTable(lf, ',')[2], expected[2]);
  // What Excel copies: tab-separated, a last line end, an empty row.
  const std::string copied = "1\t김\t개포동 7\r\n\r\n2\t이\t\"탭\t안\"\r\n";
  EXPECT_EQ(SeparatorOf(copied), '\t');
  EXPECT_EQ(ReadTable(copied, '\t'), (std::vector<TableRow>{{"1", "김", "개포동 7"}, {""}, {"2", "이", "탭\t안"}}));
  EXPECT_EQ(ReadLines("a\r\n\r\nb\n"), (std::vector<TableRow>{{"a"}, {""}, {"b"}}));

  // Written back, each field reads as it was.
  std::string csv;
  for (const TableRow& row : expected) AppendCsvRow(csv, row, "\r\n");
  AppendCsvRow(csv, {" 앞뒤 공백 ", "plain"}, "\r\n");
  EXPECT_TRUE(csv.starts_with("주소,메모\r\n\"서울시 강남구 논현로8길 67, 1층\",\"그가 \"\"문 앞\"\"이라 함\"\r\n"));
  std::vector<TableRow> again = expected;
  again.push_back({" 앞뒤 공백 ", "plain"});
  EXPECT_EQ(ReadTable(csv, ','), again);
}

}  // namespace
}  // namespace marlix
