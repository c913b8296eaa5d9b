#include "program_file.h"

#include <cstdint>

#include "windows_program.h"

namespace marlix::publish {

namespace {

std::uint32_t U32(std::string_view bytes, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
  return v;
}

std::uint16_t U16(std::string_view bytes, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                    (static_cast<unsigned char>(bytes[at + 1]) << 8));
}

// The UTF-16LE bytes of an ASCII key with its terminating zero.
std::string Utf16Key(std::string_view key) {
  std::string out;
  for (char c : key) out += {c, '\0'};
  return out + std::string(2, '\0');
}

std::size_t Align4(std::size_t at) { return (at + 3) & ~std::size_t{3}; }

}  // namespace

std::optional<ProgramVersion> ReadProgramVersion(std::string_view bytes, std::string& why) {
  if (!PeHeaderOffset(bytes)) {
    why = "not a Windows program (no MZ header)";
    return std::nullopt;
  }
  if (!IsWindowsProgram(bytes)) {
    why = "not a Windows program (no PE header)";
    return std::nullopt;
  }
  // The version resource: its key, then at the next 32-bit place the fixed
  // information, which opens with its signature.
  const std::string info_key = Utf16Key("VS_VERSION_INFO");
  const std::size_t info = bytes.find(info_key);
  const std::size_t fixed = info == std::string_view::npos ? info : Align4(info + info_key.size());
  if (fixed == std::string_view::npos || fixed + 16 > bytes.size() || U32(bytes, fixed) != 0xFEEF04BDu) {
    why = "the program has no version resource";
    return std::nullopt;
  }
  ProgramVersion version;
  const std::uint32_t ms = U32(bytes, fixed + 8), ls = U32(bytes, fixed + 12);
  version.number = {static_cast<std::uint16_t>(ms >> 16), static_cast<std::uint16_t>(ms & 0xFFFF),
                    static_cast<std::uint16_t>(ls >> 16), static_cast<std::uint16_t>(ls & 0xFFFF)};

  // A String of the table: length, value length (in characters), type, key, value.
  const std::string text_key = Utf16Key("FileVersion");
  const std::size_t key = bytes.find(text_key, fixed);
  if (key == std::string_view::npos || key < 6) {
    why = "the program's version resource has no FileVersion text";
    return std::nullopt;
  }
  const std::size_t chars = U16(bytes, key - 4);
  const std::size_t value = Align4(key + text_key.size());
  for (std::size_t i = 0; i < chars && value + 2 * i + 1 < bytes.size(); ++i) {
    const std::uint16_t c = U16(bytes, value + 2 * i);
    if (c == 0) break;
    if (c < 0x20 || c > 0x7E) {
      why = "the program's FileVersion text is not plain ASCII";
      return std::nullopt;
    }
    version.text += static_cast<char>(c);
  }
  if (version.text.empty()) {
    why = "the program's FileVersion text is empty";
    return std::nullopt;
  }
  return version;
}

}  // namespace marlix::publish
