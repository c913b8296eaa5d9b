#include "mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace marlix {

struct MappedFile::Owners {
  Owners() = default;
  Owners(const Owners&) = delete;
  Owners& operator=(const Owners&) = delete;
  ~Owners() {
    if (view != MAP_FAILED) ::munmap(view, size);
    if (fd >= 0) ::close(fd);
  }

  int fd = -1;
  void* view = MAP_FAILED;
  std::size_t size = 0;
};

MappedFile::MappedFile(const char* path) : owners_(std::make_unique<Owners>()) {
  owners_->fd = ::open(path, O_RDONLY | O_CLOEXEC);
  const int fd = owners_->fd;
  if (fd < 0) {
    open_error_ = errno != 0 ? errno : EIO;
    return;
  }
  struct stat info {};
  // A pipe or a device is only read: opening it again might wait or see other bytes.
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) return;
  size_ = static_cast<std::uint64_t>(info.st_size);
  if (size_ > SIZE_MAX) return;
  owners_->size = static_cast<std::size_t>(size_);
  owners_->view = ::mmap(nullptr, owners_->size, PROT_READ, MAP_PRIVATE, fd, 0);
  if (owners_->view != MAP_FAILED) view_ = static_cast<const char*>(owners_->view);
}

MappedFile::~MappedFile() = default;

FileStream MappedFile::TakeStream() {
  if (owners_->fd < 0) return nullptr;
  FileStream stream(::fdopen(owners_->fd, "rb"));
  if (stream) owners_->fd = -1;  // the stream owns the descriptor
  return stream;
}

}  // namespace marlix
