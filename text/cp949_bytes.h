// The byte rules of CP949 text that the search, its words and post.csv's
// reader share: ASCII digits and letters, and which bytes lead a character.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace marlix {

constexpr bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }
constexpr bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
constexpr char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c | 0x20) : c; }

// Equal when ASCII letters' case is ignored (an English name as typed).
constexpr bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

// A byte 0x81-0xFE leads a two-byte CP949 character.
constexpr bool IsCp949LeadByte(char c) {
  const auto b = static_cast<unsigned char>(c);
  return b >= 0x81 && b <= 0xFE;
}
constexpr std::size_t CharacterBytes(char lead) { return IsCp949LeadByte(lead) ? 2 : 1; }

// The last character boundary of `text` at or before `at` (at most its size):
// where the character that holds byte `at` begins. The walk goes whole
// characters from `from`, which must be a boundary (the start, or one found
// before); a lead byte takes the byte after it, whatever that is.
constexpr std::size_t CharacterStart(std::string_view text, std::size_t at, std::size_t from = 0) {
  while (from < at) {
    const std::size_t step = CharacterBytes(text[from]);
    if (from + step > at) break;
    from += step;
  }
  return from;
}

// Bytes in the data file's encoding, CP949, where the core takes them: a
// search's terms, compared with the lines byte for byte. Every other text of
// the programs is UTF-8; this type says at each signature which the bytes
// are, and only an explicit Cp949View(bytes) (after a conversion, or straight
// from the data) makes one.
class Cp949View {
 public:
  constexpr Cp949View() = default;
  constexpr explicit Cp949View(std::string_view bytes) : bytes_(bytes) {}
  constexpr std::string_view bytes() const { return bytes_; }
  constexpr bool empty() const { return bytes_.empty(); }
  friend constexpr bool operator==(Cp949View, Cp949View) = default;

 private:
  std::string_view bytes_;
};

}  // namespace marlix
