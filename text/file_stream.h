// The one owner of an open C stream: closed when the owner ends, however the
// work on it ends (a sink that throws included). The file is named by a UTF-8
// path, as every path of the programs is. Header-only on POSIX, so that the
// signing tools' own build uses it too.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "text.h"

#ifndef _WIN32
#include <dirent.h>
#include <unistd.h>
#endif

namespace marlix {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileStream = std::unique_ptr<std::FILE, FileCloser>;

// Null when the file does not open (errno says why).
inline FileStream OpenFileStream(const std::string& path, const char* mode) {
  return FileStream(OpenFileUtf8(path, mode));
}

// The stream over an open descriptor, which it takes over: null, and the
// descriptor closed, when no stream can be made of it.
#ifdef _WIN32
FileStream StreamOfDescriptor(int fd, const char* mode);
#else
inline FileStream StreamOfDescriptor(int fd, const char* mode) {
  FileStream stream(::fdopen(fd, mode));
  if (!stream) ::close(fd);
  return stream;
}

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirStream = std::unique_ptr<DIR, DirCloser>;

// The listing of the folder open as `fd`, which it takes over: null, and the
// descriptor closed, when no listing can be made of it.
inline DirStream DirOfDescriptor(int fd) {
  DirStream dir(fd >= 0 ? ::fdopendir(fd) : nullptr);
  if (!dir && fd >= 0) ::close(fd);
  return dir;
}
#endif

}  // namespace marlix
