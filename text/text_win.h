// The Win32 side of the text rule (text.h): UTF-8 strings and the data's CP949
// bytes turned into the UTF-16 of the W calls and back, always through
// CP_UTF8 or code page 949 and never the system's, so Korean and any folder
// name read right on a Windows of any language.
#pragma once

#include <string>
#include <string_view>

#include "text.h"

namespace marlix {

inline constexpr unsigned kKoreanCodePage = 949;
// The clipboard's CF_LOCALE for Korean text.
inline constexpr unsigned kKoreanLocale = 0x0412;

// UTF-16 for UTF-8 text (a message, a path). Malformed bytes become U+FFFD.
std::wstring WideFromUtf8(std::string_view utf8);
// UTF-8 for UTF-16 text (a path the system gave, a system message).
std::string Utf8FromWide(std::wstring_view wide);

// UTF-16 for CP949 bytes (a data line). A byte that is not CP949 becomes
// U+FFFD (a lead byte whose trail is missing included), so nothing is ever
// read past the text.
std::wstring WideFromCp949(const Cp949View& cp949);

// CP949 bytes for a UTF-16 text (a typed search word). A character that CP949
// cannot hold becomes a question mark, and `lossless` (when given) is set
// false: such a text must not be searched for.
Cp949String Cp949FromWide(std::wstring_view text, bool* lossless = nullptr);

}  // namespace marlix
