// A list of addresses as a user pastes it or a file holds it: which column
// holds its addresses, and those addresses as the converter takes them.
// Portable; table text UTF-8, addresses CP949.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "cp949_bytes.h"
#include "csv_table.h"

namespace marlix {

// Where a table holds its addresses.
struct AddressColumn {
  std::size_t column = 0;
  bool header = false;  // the first row names the columns
};

// The address column of a table pasted as it comes, a column or whole rows:
// the first row is a header when one of its fields names an address (holds
// "주소") and holds no digit, and that field is the column. Otherwise the
// column whose fields most often hold both Hangul and a digit, as addresses
// do and names and telephone numbers do not; the first of equals.
AddressColumn FindAddressColumn(const std::vector<TableRow>& rows);

// The addresses of the rows from `first` on, at `column`, as the data's CP949;
// a field that CP949 cannot write, or a row without the column, is empty and
// fits nothing.
std::vector<Cp949String> AddressesOf(const std::vector<TableRow>& rows, std::size_t first, std::size_t column);

}  // namespace marlix
