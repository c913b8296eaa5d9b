#include "mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace marlix {

MappedFile::MappedFile(const char* path) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    open_error_ = errno != 0 ? errno : EIO;
    return;
  }
  file_ = fd;
  struct stat info {};
  // A pipe or a device is only read: opening it again might wait or see other bytes.
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) return;
  size_ = static_cast<std::uint64_t>(info.st_size);
  if (size_ > SIZE_MAX) return;
  void* view = ::mmap(nullptr, static_cast<std::size_t>(size_), PROT_READ, MAP_PRIVATE, fd, 0);
  if (view != MAP_FAILED) view_ = static_cast<const char*>(view);
}

MappedFile::~MappedFile() {
  if (view_ != nullptr) ::munmap(const_cast<char*>(view_), static_cast<std::size_t>(size_));
  if (file_ >= 0) ::close(static_cast<int>(file_));
}

FileStream MappedFile::TakeStream() {
  if (file_ < 0) return nullptr;
  FileStream stream(::fdopen(static_cast<int>(file_), "rb"));
  if (stream) file_ = -1;
  return stream;
}

}  // namespace marlix
