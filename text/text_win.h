// The programs' text is CP949 bytes, as the data file and the literals are;
// the windows are Unicode. This is the one place where the two meet, always
// through code page 949 and never the system's, so Korean reads right on a
// Windows of any language.
#pragma once

#include <string>
#include <string_view>

namespace marlix {

inline constexpr unsigned kKoreanCodePage = 949;
// The clipboard's CF_LOCALE for Korean text.
inline constexpr unsigned kKoreanLocale = 0x0412;

// UTF-16 for CP949 bytes. A byte that is not CP949 becomes U+FFFD (a lead byte
// whose trail is missing included), so nothing is ever read past the text.
std::wstring WideFromCp949(std::string_view text);

// CP949 bytes for a UTF-16 text. A character that CP949 cannot hold becomes a
// question mark, and `lossless` (when given) is set false: such a text must not
// be searched for, as the mark would be matched against the data.
std::string Cp949FromWide(std::wstring_view text, bool* lossless = nullptr);

}  // namespace marlix
