// A whole data file mapped read-only into memory for one search, and let go
// (unmapped, closed) when the object ends, however the search ends. Portable
// interface; mapped_file.cpp maps with mmap, mapped_file_win.cpp with
// CreateFileMapping/MapViewOfFile.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "file_stream.h"

namespace marlix {

class MappedFile {
 public:
  // Opens `path` (UTF-8) for reading and maps it when it is a regular file that is not
  // empty. The file stays open too, to be read as a stream instead (TakeStream).
  explicit MappedFile(const char* path);
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  // 0 when the file opened, else the errno of the failed open.
  int open_error() const { return open_error_; }
  bool mapped() const { return view_ != nullptr; }
  // The whole file, while it is mapped.
  std::string_view bytes() const { return {view_, view_ != nullptr ? static_cast<std::size_t>(size_) : 0}; }
  // The file's size when it opened (0 when it has none, as a pipe).
  std::uint64_t size() const { return size_; }
  // The open file, to read from its start as a stream; null when it did not
  // open or was taken already. A mapping stays until the object ends.
  FileStream TakeStream();

 private:
  // The open file and its mapping, each with the platform's owner
  // (mapped_file.cpp, mapped_file_win.cpp), which lets it go.
  struct Owners;
  std::unique_ptr<Owners> owners_;
  // The mapping's first byte, held by owners_.
  const char* view_ = nullptr;
  std::uint64_t size_ = 0;
  int open_error_ = 0;
};

}  // namespace marlix
