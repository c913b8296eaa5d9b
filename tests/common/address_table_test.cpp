// A pasted list's address column and addresses, and the table as Excel
// pastes it. Narrow literals are CP949 where marked _cp949, UTF-8 otherwise.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "address_table.h"
#include "cp949_literal.h"

namespace marlix {
namespace {

using testing::operator""_cp949;

TEST(AddressTable, FindsTheColumnAndWritesWhatExcelPastes) {
  struct Case {
    std::vector<TableRow> rows;
    std::size_t column;
    bool header;
  };
  const Case cases[] = {
      {{{"논현로8길 7"}, {"개포동 7"}}, 0, false},
      // Whole rows of an order list: the name and the telephone number are no address.
      {{{"1", "김철수", "010-1234-5678", "서울시 강남구 논현로8길 7, 3층"},
        {"2", "이영희", "02-555-0101", "중앙로 12"}},
       3,
       false},
      // A header names the column, even where an address has no digit.
      {{{"주문번호", "받는분", "받는분 주소"}, {"1", "김철수", "개포동"}}, 2, true},
      {{{"주소 1203호"}, {"개포동 7"}}, 0, false},
      {{}, 0, false},
  };
  for (const Case& c : cases) {
    const AddressColumn found = FindAddressColumn(c.rows);
    EXPECT_EQ(found.column, c.column) << (c.rows.empty() ? "" : c.rows[0][0]);
    EXPECT_EQ(found.header, c.header) << (c.rows.empty() ? "" : c.rows[0][0]);
  }
  // A short row or a text CP949 cannot hold gives an empty address.
  EXPECT_EQ(AddressesOf({{"주소", "x"}, {"개포동 7", "y"}, {"z"}, {"\U0001F600", "w"}}, 1, 0),
            (std::vector<Cp949String>{Cp949String("개포동 7"_cp949), Cp949String("z"), Cp949String()}));

  // Tab-separated as Excel pastes it, read back field for field.
  const std::vector<TableRow> table = {{"1", "탭\t안", "\"따옴표\"", "두\r\n줄", " 공백 "}, {"", "끝"}};
  std::string pasted;
  for (const TableRow& row : table) AppendTabRow(pasted, row, "\r\n");
  EXPECT_EQ(pasted, "1\t\"탭\t안\"\t\"\"\"따옴표\"\"\"\t\"두\r\n줄\"\t 공백 \r\n\t끝\r\n");
  EXPECT_EQ(ReadTable(pasted, SeparatorOf(pasted)), table);
}

}  // namespace
}  // namespace marlix
