// The programs' one text rule: every string is UTF-8, except the data file's
// bytes, which are CP949 and are searched as bytes. These are the only ways
// between the two; the Windows programs go on to UTF-16 at each Win32 call
// (text_win.h). Never the system's code page.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "cp949_bytes.h"

namespace marlix {

// UTF-8 for CP949 bytes: a data line shown or printed. A byte that is not
// CP949 becomes U+FFFD (a lead byte without its trail included).
std::string Utf8FromCp949(const Cp949View& cp949);

// CP949 bytes for UTF-8 text: a typed search word, a name compared with the
// data. A character CP949 cannot hold becomes a question mark and `lossless`
// (when given) is set false: such a word must not be searched for, as the
// mark would be matched against the data.
Cp949String Cp949FromUtf8(std::string_view utf8, bool* lossless = nullptr);

// A UTF-8 path as the standard library's path: on Windows its UTF-16 name,
// never the system's code page.
inline std::filesystem::path PathFromUtf8(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
// The path back as UTF-8.
inline std::string Utf8FromPath(const std::filesystem::path& path) {
  const std::u8string utf8 = path.u8string();
  return std::string(utf8.begin(), utf8.end());
}

// Opens a file named by a UTF-8 path (fopen's modes); on Windows through the
// UTF-16 name, so that a folder the system's code page cannot spell opens too.
// Deletes the file of a UTF-8 path the same way; true when it went.
#ifdef _WIN32
std::FILE* OpenFileUtf8(const std::string& path, const char* mode);
bool RemoveFileUtf8(const std::string& path);
#else
// A POSIX name is bytes: the UTF-8 path is the name.
inline std::FILE* OpenFileUtf8(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }
inline bool RemoveFileUtf8(const std::string& path) { return std::remove(path.c_str()) == 0; }
#endif

}  // namespace marlix
