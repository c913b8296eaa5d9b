// Texts of the Windows tests: UTF-8 like the programs' own, the data's lines
// CP949; each reaches a window, or is read back from one, as UTF-16.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace marlix_test {

inline std::wstring WideIn(UINT code_page, std::string_view text) {
  std::wstring out(text.size() + 1, L'\0');
  const int n = ::MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), out.data(),
                                      static_cast<int>(out.size()));
  out.resize(n > 0 ? n : 0);
  return out;
}
inline std::string NarrowIn(UINT code_page, std::wstring_view text) {
  std::string out(text.size() * 3 + 1, '\0');
  const int n = ::WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()), out.data(),
                                      static_cast<int>(out.size()), nullptr, nullptr);
  out.resize(n > 0 ? n : 0);
  return out;
}
inline std::wstring Wide(std::string_view utf8) { return WideIn(CP_UTF8, utf8); }
inline std::string Utf8(std::wstring_view text) { return NarrowIn(CP_UTF8, text); }
inline std::wstring DataWide(std::string_view cp949) { return WideIn(949, cp949); }
// A data line (or a file of them) the test writes: CP949 bytes of its UTF-8 text.
inline std::string Cp949(std::string_view utf8) { return NarrowIn(949, Wide(utf8)); }

}  // namespace marlix_test
