#include "text_win.h"

#include <windows.h>
#include <io.h>

#include <utility>

#include "file_stream.h"

namespace marlix {

namespace {

std::wstring WideFrom(UINT code_page, std::string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int wide = ::MultiByteToWideChar(code_page, 0, text.data(), size, nullptr, 0);
  if (wide <= 0) return {};
  std::wstring out(static_cast<std::size_t>(wide), L'\0');
  ::MultiByteToWideChar(code_page, 0, text.data(), size, out.data(), wide);
  return out;
}

}  // namespace

std::wstring WideFromUtf8(std::string_view utf8) { return WideFrom(CP_UTF8, utf8); }

std::string Utf8FromWide(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string out(static_cast<std::size_t>(bytes), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, out.data(), bytes, nullptr, nullptr);
  return out;
}

std::wstring WideFromCp949(const Cp949View& cp949) { return WideFrom(kKoreanCodePage, cp949.bytes()); }

Cp949String Cp949FromWide(std::wstring_view text, bool* lossless) {
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
  ::WideCharToMultiByte(kKoreanCodePage, WC_NO_BEST_FIT_CHARS, text.data(), size, out.data(), bytes, "?", &defaulted);
  if (lossless && defaulted) *lossless = false;
  return Cp949String(std::move(out));
}

std::string Utf8FromCp949(const Cp949View& cp949) { return Utf8FromWide(WideFromCp949(cp949)); }

Cp949String Cp949FromUtf8(std::string_view utf8, bool* lossless) { return Cp949FromWide(WideFromUtf8(utf8), lossless); }

std::FILE* OpenFileUtf8(const std::string& path, const char* mode) {
  return ::_wfopen(WideFromUtf8(path).c_str(), WideFromUtf8(mode).c_str());
}

bool RemoveFileUtf8(const std::string& path) { return ::_wremove(WideFromUtf8(path).c_str()) == 0; }

FileStream StreamOfDescriptor(int fd, const char* mode) {
  FileStream stream(::_fdopen(fd, mode));
  if (!stream) ::_close(fd);
  return stream;
}

}  // namespace marlix
