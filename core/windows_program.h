// What makes a file a Windows program, for the updater that installs one and
// the publisher that releases one alike: "MZ", and "PE\0\0" at the offset
// that the DOS header holds at 0x3C.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace marlix {

// The DOS header, from the file's start.
inline constexpr std::size_t kDosHeaderBytes = 0x40;

// The offset of the PE header that `dos_header` (the file's first bytes)
// names; nothing when they are not a whole DOS header.
constexpr std::optional<std::uint32_t> PeHeaderOffset(std::string_view dos_header) {
  if (dos_header.size() < kDosHeaderBytes || dos_header.substr(0, 2) != "MZ") return std::nullopt;
  std::uint32_t offset = 0;
  for (std::size_t i = 4; i-- > 0;) offset = offset << 8 | static_cast<unsigned char>(dos_header[0x3C + i]);
  return offset;
}

// True when `header` begins with the PE header's signature.
constexpr bool IsPeSignature(std::string_view header) { return header.substr(0, 4) == std::string_view("PE\0\0", 4); }

// A whole program held in memory.
constexpr bool IsWindowsProgram(std::string_view bytes) {
  const std::optional<std::uint32_t> pe = PeHeaderOffset(bytes);
  return pe && *pe <= bytes.size() && IsPeSignature(bytes.substr(*pe));
}

}  // namespace marlix
