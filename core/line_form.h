// The two forms of a data line. Six-digit lines ("135-080 ...") are the old
// postal codes; five-digit lines ("06315 ...") are today's. Every line is
// judged by itself, so one file may hold both.
#pragma once

#include <cstddef>
#include <string_view>

#include "cp949_bytes.h"

namespace marlix {


// Five ASCII digits, then a byte that is neither a digit nor a hyphen (the
// separator); the address begins after it. Anything else is read as a
// six-digit line, whatever it holds.
constexpr bool IsFiveDigitLine(std::string_view line) {
  if (line.size() < 6) return false;
  for (std::size_t i = 0; i < 5; ++i) {
    if (!IsAsciiDigit(line[i])) return false;
  }
  return !IsAsciiDigit(line[5]) && line[5] != '-';
}

struct LineFields {
  std::size_t code_bytes;     // the postal code at the line's start
  std::size_t address_start;  // the address, after the code and its separator
};

constexpr LineFields FieldsOf(std::string_view line) {
  return IsFiveDigitLine(line) ? LineFields{5, 6} : LineFields{7, 8};
}

}  // namespace marlix
