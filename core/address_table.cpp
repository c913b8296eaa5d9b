#include "address_table.h"

#include <algorithm>

#include "text.h"

namespace marlix {

namespace {

// A Hangul syllable (U+AC00 to U+D7A3) begins with one of these UTF-8 bytes.
bool HoldsHangul(std::string_view field) {
  return std::any_of(field.begin(), field.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return b >= 0xEA && b <= 0xED;
  });
}

bool HoldsDigit(std::string_view field) {
  return std::any_of(field.begin(), field.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

AddressColumn FindAddressColumn(const std::vector<TableRow>& rows) {
  if (rows.empty()) return {};
  for (std::size_t i = 0; i < rows[0].size(); ++i) {
    const std::string& name = rows[0][i];
    if (name.find("주소") != std::string::npos && !HoldsDigit(name)) return {i, true};
  }
  std::vector<std::size_t> addresses_in;
  for (const TableRow& row : rows) {
    if (row.size() > addresses_in.size()) addresses_in.resize(row.size());
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (HoldsHangul(row[i]) && HoldsDigit(row[i])) ++addresses_in[i];
    }
  }
  const auto most = std::max_element(addresses_in.begin(), addresses_in.end());
  return {most == addresses_in.end() ? 0 : static_cast<std::size_t>(most - addresses_in.begin()), false};
}

std::vector<Cp949String> AddressesOf(const std::vector<TableRow>& rows, std::size_t first, std::size_t column) {
  std::vector<Cp949String> addresses;
  addresses.reserve(rows.size() > first ? rows.size() - first : 0);
  for (std::size_t r = first; r < rows.size(); ++r) {
    bool lossless = true;
    Cp949String cp949 = column < rows[r].size() ? Cp949FromUtf8(rows[r][column], &lossless) : Cp949String();
    // An address CP949 cannot write is in no line of the data.
    addresses.push_back(lossless ? std::move(cp949) : Cp949String());
  }
  return addresses;
}

}  // namespace marlix
