#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdint>

#include "mapped_file.h"
#include "text_win.h"

namespace marlix {

namespace {

int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: return EACCES;
    default: return EIO;
  }
}

}  // namespace

MappedFile::MappedFile(const char* path) {
  // Shared for writing and deleting too, so that nothing here stands in the
  // way of the data download replacing the file once the search lets it go.
  HANDLE file = ::CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    open_error_ = ErrnoOf(::GetLastError());
    return;
  }
  file_ = reinterpret_cast<std::intptr_t>(file);
  LARGE_INTEGER size{};
  if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileSizeEx(file, &size) || size.QuadPart <= 0) return;
  size_ = static_cast<std::uint64_t>(size.QuadPart);
  if (size_ > SIZE_MAX) return;
  if (HANDLE mapping = ::CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr)) {
    view_ = static_cast<const char*>(::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
    ::CloseHandle(mapping);  // the view holds the mapping by itself
  }
}

MappedFile::~MappedFile() {
  if (view_ != nullptr) ::UnmapViewOfFile(view_);
  if (file_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(file_));
}

FileStream MappedFile::TakeStream() {
  if (file_ == -1) return nullptr;
  const int fd = ::_open_osfhandle(file_, _O_RDONLY | _O_BINARY);
  if (fd == -1) return nullptr;
  file_ = -1;  // the descriptor owns the handle now
  FileStream stream(::_fdopen(fd, "rb"));
  if (!stream) ::_close(fd);
  return stream;
}

}  // namespace marlix
