// A file of the publisher's output: written beside its place under a
// temporary name, synced, and put in place by a rename only when whole, so
// that the service never shows half a file. Removed unless placed.
//
// The temporary name is unguessable and the file is made new, never opened
// through whatever already has its name: the served folder may be writable
// by others, and a link planted there must not turn the publisher's write
// into one of the planter's choosing. The folder is held open and every name
// in it reached from there, so that a folder swapped for a link meanwhile
// does not take the write elsewhere either.
#pragma once

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "file_stream.h"
#include "served_folder.h"

namespace marlix::publish {

class OutputFile {
 public:
  // In the folder the operator names as `dir`.
  OutputFile(const std::filesystem::path& dir, const std::string& name)
      : OutputFile(UniqueFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)), dir, name) {}
  // In a folder opened already, reached by its descriptor alone.
  OutputFile(const Folder& dir, const std::string& name)
      : OutputFile(UniqueFd(::fcntl(dir.fd(), F_DUPFD_CLOEXEC, 0)), dir.path(), name) {}
  ~OutputFile() {
    file_.reset();
    if (!placed_ && !temp_.empty()) ::unlinkat(dir_.get(), temp_.c_str(), 0);
  }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  bool opened() const { return file_ != nullptr; }
  void Line(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), file_.get());
    std::fwrite("\r\n", 1, 2, file_.get());
  }
  void Write(std::string_view bytes) { std::fwrite(bytes.data(), 1, bytes.size(), file_.get()); }
  // Whether every byte reached the disk's file.
  bool Close() {
    const bool ok = std::ferror(file_.get()) == 0 && std::fflush(file_.get()) == 0 && fsync(fileno(file_.get())) == 0;
    const bool closed = std::fclose(file_.release()) == 0;
    return ok && closed;
  }
  // A link or file of the name goes; what a link points to stays.
  bool Place() {
    placed_ = ::renameat(dir_.get(), temp_.c_str(), dir_.get(), name_.c_str()) == 0;
    return placed_;
  }
  const std::filesystem::path& path() const { return final_; }

 private:
  OutputFile(UniqueFd dir, const std::filesystem::path& shown, const std::string& name)
      : dir_(std::move(dir)), name_(name), final_(shown / name) {
    // Beside the final name, so that the rename stays on one file system.
    for (int attempt = 0; attempt < 100 && dir_ && !file_; ++attempt) {
      std::string temp = "." + name + ".tmp-" + RandomSuffix();
      const int fd = ::openat(dir_.get(), temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
      if (fd < 0) {
        if (errno == EEXIST) continue;
        return;
      }
      file_ = StreamOfDescriptor(fd, "wb");
      if (!file_) {
        ::unlinkat(dir_.get(), temp.c_str(), 0);
        return;
      }
      temp_ = std::move(temp);
    }
    if (file_) std::setvbuf(file_.get(), nullptr, _IOFBF, std::size_t{1} << 20);
  }

  // 16 hex digits from the system's random source.
  static std::string RandomSuffix() {
    unsigned char bytes[8] = {};
    std::size_t got = 0;
    while (got < sizeof bytes) {
      const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string suffix;
    for (const unsigned char b : bytes) suffix += {kHex[b >> 4], kHex[b & 15]};
    return suffix;
  }

  UniqueFd dir_;
  std::string name_;
  std::filesystem::path final_;
  std::string temp_;
  FileStream file_;
  bool placed_ = false;
};

}  // namespace marlix::publish
