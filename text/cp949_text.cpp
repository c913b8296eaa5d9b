#include "cp949_text.h"

#include <algorithm>
#include <utility>

#include "cp949_bytes.h"
#include "iconv_converter.h"
#include "text.h"
#include "utf8_bytes.h"

namespace marlix::publish {

namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kMalformed = 0xFFFFFFFF;

bool IsLeadByte(unsigned char c) { return IsCp949LeadByte(static_cast<char>(c)); }

// Decodes one strict UTF-8 character at `text[i]`, moving `i` past it;
// kMalformed for a malformed, overlong or surrogate sequence.
char32_t DecodeUtf8(std::string_view text, std::size_t& i) {
  const auto c = static_cast<unsigned char>(text[i]);
  int extra = 0;
  char32_t cp = 0;
  char32_t min = 0;
  if (c < 0x80) {
    ++i;
    return c;
  } else if (c >= 0xC2 && c <= 0xDF) {
    extra = 1, cp = c & 0x1F, min = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    extra = 2, cp = c & 0x0F, min = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    extra = 3, cp = c & 0x07, min = 0x10000;
  } else {
    return kMalformed;
  }
  if (i + extra >= text.size()) return kMalformed;
  for (int k = 1; k <= extra; ++k) {
    const auto t = static_cast<unsigned char>(text[i + k]);
    if ((t & 0xC0) != 0x80) return kMalformed;
    cp = cp << 6 | (t & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kMalformed;
  i += extra + 1;
  return cp;
}

void AppendUtf8(char32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | cp >> 6);
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | cp >> 12);
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

Cp949Tables::Cp949Tables() {
  IconvConverter encode("CP949", "UTF-32LE");
  IconvConverter decode("UTF-32LE", "CP949");
  if (encode.ok() && decode.ok()) {
    from_bmp_.assign(0x10000, 0);
    for (char32_t cp = 0; cp < 0x80; ++cp) from_bmp_[cp] = static_cast<std::uint16_t>(cp);
    for (char32_t cp = 0x80; cp < 0x10000; ++cp) {
      if (cp >= 0xD800 && cp <= 0xDFFF) continue;
      const char in[4] = {static_cast<char>(cp & 0xFF), static_cast<char>(cp >> 8), 0, 0};
      const std::optional<std::string> out = encode.Strict(std::string_view(in, 4));
      if (out && out->size() == 2) {
        const auto lead = static_cast<unsigned char>((*out)[0]);
        const auto trail = static_cast<unsigned char>((*out)[1]);
        from_bmp_[cp] = static_cast<std::uint16_t>(lead << 8 | trail);
      }
    }
    to_unicode_.assign(0x10000, 0);
    for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
      for (unsigned trail = 0x41; trail <= 0xFE; ++trail) {
        const char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
        const std::optional<std::string> out = decode.Strict(std::string_view(in, 2));
        if (out && out->size() == 4) {
          const auto byte = [&out](int k) { return static_cast<char32_t>(static_cast<unsigned char>((*out)[k])); };
          to_unicode_[lead << 8 | trail] = byte(0) | byte(1) << 8 | byte(2) << 16;
        }
      }
    }
  }
}

TextFault Cp949Tables::AppendFromUtf8(std::string_view utf8, std::string& out) const {
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      if (c < 0x20 || c == 0x7F) return TextFault::kControl;
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    const char32_t cp = DecodeUtf8(utf8, i);
    if (cp == kMalformed) return TextFault::kNotUtf8;
    const std::uint16_t code = cp < 0x10000 ? from_bmp_[cp] : 0;
    if (code < 0x100) return cp >= 0x80 && cp <= 0x9F ? TextFault::kControl : TextFault::kNotCp949;
    out += static_cast<char>(code >> 8);
    out += static_cast<char>(code & 0xFF);
  }
  return TextFault::kNone;
}

TextFault Cp949Tables::Check(std::string_view bytes) const {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x80) {
      if (c < 0x20 || c == 0x7F) return TextFault::kControl;
      continue;
    }
    if (!IsLeadByte(c) || i + 1 == bytes.size()) return TextFault::kNotCp949;
    if (to_unicode_[c << 8 | static_cast<unsigned char>(bytes[++i])] == 0) return TextFault::kNotCp949;
  }
  return TextFault::kNone;
}

std::string Cp949Tables::ToUtf8(std::string_view cp949) const {
  std::string out;
  for (std::size_t i = 0; i < cp949.size(); ++i) {
    const auto c = static_cast<unsigned char>(cp949[i]);
    char32_t cp = c;
    if (c >= 0x80) {
      cp = kReplacement;
      if (IsLeadByte(c) && i + 1 < cp949.size() && !to_unicode_.empty()) {
        const char32_t pair = to_unicode_[c << 8 | static_cast<unsigned char>(cp949[i + 1])];
        if (pair != 0) cp = pair, ++i;
      }
    }
    AppendUtf8(cp, out);
  }
  return out;
}

std::string Cp949Tables::ToCp949(std::string_view utf8_or_cp949) const {
  std::string out;
  for (std::size_t i = 0; i < utf8_or_cp949.size();) {
    std::size_t next = i;
    const char32_t cp = DecodeUtf8(utf8_or_cp949, next);
    if (cp == kMalformed) return std::string(utf8_or_cp949);
    const std::uint16_t code = cp < 0x10000 ? from_bmp_[cp] : 0;
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (code < 0x100) {
      out += '?';
    } else {
      out += static_cast<char>(code >> 8);
      out += static_cast<char>(code & 0xFF);
    }
    i = next;
  }
  return out;
}

}  // namespace marlix::publish

namespace marlix {

namespace {
// Made once, on first use: the tables take some milliseconds.
const publish::Cp949Tables& Tables() {
  static const publish::Cp949Tables tables;
  return tables;
}
}  // namespace

std::string Utf8FromCp949(const Cp949View& cp949) { return Tables().ToUtf8(cp949.bytes()); }

Cp949String Cp949FromUtf8(std::string_view utf8, bool* lossless) {
  std::string out = Tables().ToCp949(utf8);
  // Nothing was lost when no question mark was added (malformed UTF-8 comes back as it was).
  if (lossless) {
    *lossless = Tables().ok() && IsUtf8Text(utf8) &&
                std::count(out.begin(), out.end(), '?') == std::count(utf8.begin(), utf8.end(), '?');
  }
  return Cp949String(std::move(out));
}

}  // namespace marlix
