// A file of the publisher's output: written beside its place under a
// temporary name, synced, and put in place by a rename only when whole, so
// that the service never shows half a file. Removed unless placed.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace marlix::publish {

class OutputFile {
 public:
  OutputFile(const std::filesystem::path& dir, const std::string& name)
      : final_(dir / name), temp_(dir / ("." + name + ".tmp-" + std::to_string(getpid()))) {
    file_ = std::fopen(temp_.c_str(), "wb");
    if (file_ != nullptr) std::setvbuf(file_, nullptr, _IOFBF, std::size_t{1} << 20);
  }
  ~OutputFile() {
    if (file_ != nullptr) std::fclose(file_);
    if (!placed_) std::remove(temp_.c_str());
  }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  bool opened() const { return file_ != nullptr; }
  void Line(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), file_);
    std::fwrite("\r\n", 1, 2, file_);
  }
  void Write(std::string_view bytes) { std::fwrite(bytes.data(), 1, bytes.size(), file_); }
  // Whether every byte reached the disk's file.
  bool Close() {
    const bool ok = std::ferror(file_) == 0 && std::fflush(file_) == 0 && fsync(fileno(file_)) == 0;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    return ok && closed;
  }
  bool Place() {
    placed_ = std::rename(temp_.c_str(), final_.c_str()) == 0;
    return placed_;
  }
  const std::filesystem::path& path() const { return final_; }

 private:
  std::filesystem::path final_;
  std::filesystem::path temp_;
  std::FILE* file_ = nullptr;
  bool placed_ = false;
};

}  // namespace marlix::publish
