// A folder of the publisher's reached through one open descriptor: every name
// in it is looked up from there without following a link. Others may write
// the served folder, so a link planted in it must lead no read, write or
// removal of the publisher's anywhere else, and a file there counts only as
// the bytes it holds.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "manifest.h"

namespace marlix::publish {

// The one owner of a file descriptor.
class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  ~UniqueFd();
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_;
};

class Folder {
 public:
  // The folder at `path`, made when missing. The operator names it, so a
  // link in `path` itself is followed; nothing inside it is.
  static std::optional<Folder> Open(const std::filesystem::path& path, std::string& why);

  // The folder `name` in this one, made when missing and `make`. Nothing
  // when it is missing; nothing with `why` set when it is a link or not a
  // folder, or cannot be made.
  std::optional<Folder> Sub(const std::string& name, bool make, std::string& why) const;

  enum class Kind { kMissing, kFile, kFolder, kLink, kOther };
  Kind KindOf(const std::string& name) const;
  std::vector<std::string> Names() const;

  // The regular file at `relative` (names parted by '/'), opened for reading
  // without following a link anywhere on the way. Not opened, with `why`
  // set, when it is a link, a folder or anything but a plain file; `why`
  // stays empty when it is missing.
  UniqueFd OpenFile(std::string_view relative, std::string& why) const;
  // Its bytes, when it has at most `max_bytes`.
  std::optional<std::string> ReadFile(std::string_view relative, std::uint64_t max_bytes, std::string& why) const;
  // Whether it holds exactly `size` bytes whose SHA-256 is `sha256`.
  bool Holds(std::string_view relative, std::uint64_t size, const Sha256Digest& sha256) const;

  // Removes `name` and all it holds without following a link: a link in it
  // goes as a link. False when something stayed.
  bool RemoveAll(const std::string& name) const;

  int fd() const { return fd_.get(); }
  // For messages: the folder as the operator named it.
  const std::string& path() const { return path_; }
  std::string PathOf(std::string_view relative) const { return path_ + "/" + std::string(relative); }

 private:
  Folder(UniqueFd fd, std::string path) : fd_(std::move(fd)), path_(std::move(path)) {}
  UniqueFd fd_;
  std::string path_;
};

// Reads an open file in pieces to `sink`, at most `max_bytes` of it; false
// when the file holds more, a read fails or the sink says stop.
bool StreamFile(int fd, std::uint64_t max_bytes, const std::function<bool(std::string_view)>& sink);

}  // namespace marlix::publish
