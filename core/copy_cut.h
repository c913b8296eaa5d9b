// The part of a result line that goes to the clipboard, by copy mode.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "code_names.h"
#include "cp949_bytes.h"
#include "line_form.h"

namespace marlix {

// The copy modes, as the window's m_nCopyMode holds them: an int, since any
// other value copies the whole line. Menus and settings keep the numbers:
// never renumber them.
inline constexpr int kCopyPostcode = 0;
inline constexpr int kCopyAddress = 1;
inline constexpr int kCopyWholeLine = 2;
inline constexpr int kCopyEnglish = 3;

// Mode 0: the postal code (the first 7 bytes of a six-digit line, the five
// digits of a five-digit one); 1: the address after the code's separator; any
// other value: the whole line (kCopyEnglish too, for a line whose English
// address is unknown). Bytes are counted, not characters.
constexpr std::string_view CutForCopy(std::string_view line, int mode) {
  const LineFields fields = FieldsOf(line);
  switch (mode) {
    case kCopyPostcode:
      return line.substr(0, fields.code_bytes);
    case kCopyAddress:
      return line.size() > fields.address_start ? line.substr(fields.address_start) : std::string_view();
    default:
      return line;
  }
}

// What a selected line copies: in kCopyEnglish mode its English address where
// post.csv's names give one, otherwise the cut above.
// The English address is ASCII, which CP949 holds as it is.
inline Cp949String TextForCopy(const Cp949View& line, int mode, const CodeNames& names) {
  if (mode == kCopyEnglish) {
    std::string english = names.EnglishAddress(line.bytes());
    if (!english.empty()) return Cp949String(std::move(english));
  }
  return Cp949String(Cp949View(CutForCopy(line.bytes(), mode)));
}

}  // namespace marlix
