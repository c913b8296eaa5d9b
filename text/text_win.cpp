#include "text_win.h"

#include <windows.h>

namespace marlix {

std::wstring WideFromCp949(std::string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int wide = ::MultiByteToWideChar(kKoreanCodePage, 0, text.data(), size, nullptr, 0);
  if (wide <= 0) return {};
  std::wstring out(static_cast<std::size_t>(wide), L'\0');
  ::MultiByteToWideChar(kKoreanCodePage, 0, text.data(), size, out.data(), wide);
  return out;
}

std::string Cp949FromWide(std::wstring_view text, bool* lossless) {
  if (lossless) *lossless = true;
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  BOOL defaulted = FALSE;
  // No best fit: a character without a CP949 form is not quietly turned into a look-alike.
  const int bytes =
      ::WideCharToMultiByte(kKoreanCodePage, WC_NO_BEST_FIT_CHARS, text.data(), size, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) {
    if (lossless) *lossless = false;
    return {};
  }
  std::string out(static_cast<std::size_t>(bytes), '\0');
  ::WideCharToMultiByte(kKoreanCodePage, WC_NO_BEST_FIT_CHARS, text.data(), size, out.data(), bytes, "?",
                        &defaulted);
  if (lossless && defaulted) *lossless = false;
  return out;
}

}  // namespace marlix
