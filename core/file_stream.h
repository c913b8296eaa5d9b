// The one owner of an open C stream: closed when the owner ends, however the
// work on it ends (a sink that throws included). Header-only, so that every
// layer above the core uses it, the signing tools' own build too.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace marlix {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileStream = std::unique_ptr<std::FILE, FileCloser>;

// Null when the file does not open (errno says why).
inline FileStream OpenFileStream(const std::string& path, const char* mode) {
  return FileStream(std::fopen(path.c_str(), mode));
}

}  // namespace marlix
