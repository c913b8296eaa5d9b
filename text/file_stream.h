// The one owner of an open C stream: closed when the owner ends, however the
// work on it ends (a sink that throws included). The file is named by a UTF-8
// path, as every path of the programs is. Header-only on POSIX, so that the
// signing tools' own build uses it too.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "text.h"

namespace marlix {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileStream = std::unique_ptr<std::FILE, FileCloser>;

// Null when the file does not open (errno says why).
inline FileStream OpenFileStream(const std::string& path, const char* mode) {
  return FileStream(OpenFileUtf8(path, mode));
}

}  // namespace marlix
