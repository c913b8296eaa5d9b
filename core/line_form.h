// The two forms of a data line. Six-digit lines ("135-080 ...") are the old
// postal codes; five-digit lines ("06315 ...") are today's. Every line is
// judged by itself, so one file may hold both. The search, the publisher's
// converter and its release all judge lines here.
#pragma once

#include <cstddef>
#include <string_view>

#include "cp949_bytes.h"

namespace marlix {

// The longest data line, in bytes before its line end.
inline constexpr std::size_t kDataLineMaxBytes = 254;

// Five ASCII digits and a space; the address begins after it. The search
// reads any other line by the six-digit rule, whatever it holds.
constexpr bool IsFiveDigitLine(std::string_view line) {
  if (line.size() < 6 || line[5] != ' ') return false;
  for (std::size_t i = 0; i < 5; ++i) {
    if (!IsAsciiDigit(line[i])) return false;
  }
  return true;
}

struct LineFields {
  std::size_t code_bytes;     // the postal code at the line's start
  std::size_t address_start;  // the address, after the code and its separator
};

constexpr LineFields FieldsOf(std::string_view line) {
  return IsFiveDigitLine(line) ? LineFields{5, 6} : LineFields{7, 8};
}

enum class LineForm { kNone, kFiveDigit, kSixDigit };

// The form of a line that may be published: its code (NNNNN or NNN-NNN), a
// space, an address, and no more than kDataLineMaxBytes in all. The search
// takes any line; only these are ever written or released.
constexpr LineForm PublishedFormOf(std::string_view line) {
  if (line.size() > kDataLineMaxBytes) return LineForm::kNone;
  if (IsFiveDigitLine(line)) return line.size() > 6 ? LineForm::kFiveDigit : LineForm::kNone;
  if (line.size() <= 8 || line[3] != '-' || line[7] != ' ') return LineForm::kNone;
  for (std::size_t i : {0, 1, 2, 4, 5, 6}) {
    if (!IsAsciiDigit(line[i])) return LineForm::kNone;
  }
  return LineForm::kSixDigit;
}

}  // namespace marlix
