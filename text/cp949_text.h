// The data file's encoding, CP949, for the converter: UTF-8 text turned into
// CP949 and CP949 bytes checked, both through tables made once from iconv, so
// that millions of short fields cost a lookup each rather than an iconv call.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace marlix::publish {

enum class TextFault {
  kNone,
  kNotUtf8,   // bytes that are not UTF-8 in a UTF-8 text
  kNotCp949,  // a character CP949 cannot hold, or bytes that are not CP949
  kControl,   // a control character, which has no place in a data line
};

class Cp949Tables {
 public:
  // Empty tables when this system's iconv has no CP949 (see ok()).
  Cp949Tables();

  bool ok() const { return !to_unicode_.empty(); }

  // Appends the CP949 form of `utf8` to `out`, or says why there is none
  // (`out` then holds part of it).
  TextFault AppendFromUtf8(std::string_view utf8, std::string& out) const;
  // Whether `bytes` are CP949 text without control characters.
  TextFault Check(std::string_view bytes) const;
  // CP949 text as UTF-8, for messages; bytes that are not CP949 become U+FFFD.
  std::string ToUtf8(std::string_view cp949) const;
  // Text that is UTF-8 turned into CP949, other text kept as it is (names of
  // files and zip entries, which may come either way); characters CP949 lacks
  // become '?'.
  std::string ToCp949(std::string_view utf8_or_cp949) const;

 private:
  std::vector<std::uint16_t> from_bmp_;  // code point -> CP949 (one or two bytes), 0: none
  std::vector<char32_t> to_unicode_;     // lead << 8 | trail -> code point, 0: not CP949
};

}  // namespace marlix::publish
