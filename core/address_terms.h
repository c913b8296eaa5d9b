// The words of an address search read as people type or paste them, for
// five-digit lines: 서울시 for 서울특별시, 논현로8길67 for 논현로8길 67, English
// names for Korean ones, a 행정동 for the codes it covers, a pasted code for
// that code, and the commas, brackets and country names of a paste left out.
// Portable; text CP949.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "building_number.h"
#include "cp949_bytes.h"

namespace marlix {

class CodeNames;

// One word of the search: a line satisfies it when its address holds one of
// the texts (on a character boundary; ASCII case ignored when `fold_case`) or
// when its code is one of the codes.
struct TermGroup {
  std::vector<std::string> texts;
  std::vector<std::uint32_t> codes;
  bool fold_case = false;
  // A building or lot number (67, 67-1), which is exact only right after a
  // word of the search (its road, 동 or 리).
  bool number = false;
  // A word after the address's number (its road's building number or its
  // 동's lot number): the unit, floor or shop a list adds (101동, 3층,
  // B102호, (우리집)). A line need not hold it; lines that hold it come first.
  bool detail = false;
};

// True when a search's words may need the data set's names (an English word,
// a word that may be a 행정동): only then need the names be read.
bool WordsNeedNames(const Cp949View& term);

// The groups of a search's words; `names` (may be null) adds the English names
// and the 행정동 of the data set.
std::vector<TermGroup> ReadAddressTerms(std::string_view term, const CodeNames* names);

}  // namespace marlix
