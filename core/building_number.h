// A building or lot number as an address writes it: its 본번, or 본번-부번
// (67, 67-1, 1183-10), and a mountain lot with 산 before it (산12-3). The one
// reading of such a number for the search's words, the data's lines and the
// publisher's rows. Portable; text CP949.
#pragma once

#include <algorithm>
#include <string_view>

#include "cp949_bytes.h"

namespace marlix {

inline constexpr std::string_view kMountainLot = "\xBB\xEA";  // 산

// One part of a number, its 본번 or its 부번: digits, at least one.
constexpr bool IsNumberPart(std::string_view part) {
  return !part.empty() && std::all_of(part.begin(), part.end(), IsAsciiDigit);
}

// 67, 67-1, 1183-10: a 본번 and, after a dash, a 부번.
constexpr bool IsBuildingNumber(std::string_view word) {
  const std::size_t dash = word.find('-');
  if (dash == std::string_view::npos) return IsNumberPart(word);
  return IsNumberPart(word.substr(0, dash)) && IsNumberPart(word.substr(dash + 1));
}

// A building number, or a mountain lot's: 67, 67-1, 산12-3.
constexpr bool IsAddressNumber(std::string_view word) {
  if (word.starts_with(kMountainLot)) word.remove_prefix(kMountainLot.size());
  return IsBuildingNumber(word);
}

}  // namespace marlix
