// The byte rule of strict UTF-8, by which the converter and the publisher
// tell a UTF-8 text from a CP949 one.
#pragma once

#include <cstddef>
#include <string_view>

namespace marlix {

// True when every byte sequence of `text` is well-formed UTF-8, with no
// overlong form, surrogate or code point past U+10FFFF: CP949 Korean text
// almost never is.
constexpr bool IsUtf8Text(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t n = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
      n = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      n = 2;
      if (c == 0xE0) low = 0xA0;
      if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      n = 3;
      if (c == 0xF0) low = 0x90;
      if (c == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    for (std::size_t k = 1; k <= n; ++k) {
      if (i + k >= text.size()) return false;
      const auto t = static_cast<unsigned char>(text[i + k]);
      if (t < (k == 1 ? low : 0x80) || t > (k == 1 ? high : 0xBF)) return false;
    }
    i += n + 1;
  }
  return true;
}

}  // namespace marlix
