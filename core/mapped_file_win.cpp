#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdint>

#include "handle_win.h"
#include "mapped_file.h"
#include "text_win.h"

namespace marlix {

namespace {

int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return EACCES;
    default:
      return EIO;
  }
}

}  // namespace

struct MappedFile::Owners {
  UniqueFileHandle file;
  UniqueView view;
};

MappedFile::MappedFile(const char* path) : owners_(std::make_unique<Owners>()) {
  // Shared for writing and deleting too, so that nothing here stands in the
  // way of the data download replacing the file once the search lets it go.
  owners_->file.reset(::CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  const HANDLE file = owners_->file.get();
  if (!owners_->file) {
    open_error_ = ErrnoOf(::GetLastError());
    return;
  }
  LARGE_INTEGER size{};
  if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileSizeEx(file, &size) || size.QuadPart <= 0) return;
  size_ = static_cast<std::uint64_t>(size.QuadPart);
  if (size_ > SIZE_MAX) return;
  // The view holds the mapping by itself.
  const UniqueKernelHandle mapping(::CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (mapping) {
    owners_->view.reset(::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
    view_ = static_cast<const char*>(owners_->view.get());
  }
}

MappedFile::~MappedFile() = default;

FileStream MappedFile::TakeStream() {
  if (!owners_->file) return nullptr;
  const int fd = ::_open_osfhandle(reinterpret_cast<std::intptr_t>(owners_->file.get()), _O_RDONLY | _O_BINARY);
  if (fd == -1) return nullptr;
  owners_->file.release();  // the descriptor owns the handle
  return StreamOfDescriptor(fd, "rb");
}

}  // namespace marlix
