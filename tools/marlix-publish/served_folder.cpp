#include "served_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "file_stream.h"
#include "signature.h"

namespace marlix::publish {

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// Edition folders hold files only; a deeper tree was planted, and is left.
constexpr int kMaxRemovedDepth = 8;

// Why `name` in the folder `at` did not open as `error` says; a link opened
// with O_NOFOLLOW fails as ELOOP, or as ENOTDIR when a folder was asked for.
std::string OpenFault(int at, const std::string& name, int error) {
  struct stat info {};
  if (error == ELOOP || (fstatat(at, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode))) {
    return "a link";
  }
  return error == ENOTDIR ? "not a folder" : std::strerror(error);
}

// The names in the folder `fd` (which stays open: the listing has a copy).
std::vector<std::string> NamesIn(int fd) {
  std::vector<std::string> names;
  const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return names;
  const marlix::DirStream dir = marlix::DirOfDescriptor(copy);
  if (!dir) return names;
  // cppcheck-suppress readdirCalled ; one thread, and readdir_r is deprecated by glibc
  while (const dirent* entry = readdir(dir.get())) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  return names;
}

bool RemoveIn(int parent, const std::string& name, int depth) {
  if (unlinkat(parent, name.c_str(), 0) == 0 || errno == ENOENT) return true;
  if (errno != EISDIR || depth >= kMaxRemovedDepth) return false;
  const UniqueFd folder(openat(parent, name.c_str(), kFolderFlags));
  if (!folder) return false;
  bool all = true;
  for (const std::string& inner : NamesIn(folder.get())) all = RemoveIn(folder.get(), inner, depth + 1) && all;
  return all && unlinkat(parent, name.c_str(), AT_REMOVEDIR) == 0;
}

}  // namespace

UniqueFd::~UniqueFd() {
  if (fd_ >= 0) close(fd_);
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

std::optional<Folder> Folder::Open(const std::filesystem::path& path, std::string& why) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
  UniqueFd fd(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd) {
    why = path.string() + ": cannot be opened as a folder: " + (error ? error.message() : std::strerror(errno));
    return std::nullopt;
  }
  return Folder(std::move(fd), path.string());
}

std::optional<Folder> Folder::Sub(const std::string& name, bool make, std::string& why) const {
  if (make && mkdirat(fd(), name.c_str(), 0777) != 0 && errno != EEXIST) {
    why = PathOf(name) + ": cannot be made: " + std::strerror(errno);
    return std::nullopt;
  }
  UniqueFd sub(openat(fd(), name.c_str(), kFolderFlags));
  if (!sub) {
    const int error = errno;
    if (error != ENOENT) why = PathOf(name) + ": " + OpenFault(fd(), name, error);
    return std::nullopt;
  }
  return Folder(std::move(sub), PathOf(name));
}

Folder::Kind Folder::KindOf(const std::string& name) const {
  struct stat info {};
  if (fstatat(fd(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return Kind::kMissing;
  if (S_ISLNK(info.st_mode)) return Kind::kLink;
  if (S_ISDIR(info.st_mode)) return Kind::kFolder;
  return S_ISREG(info.st_mode) ? Kind::kFile : Kind::kOther;
}

std::vector<std::string> Folder::Names() const { return NamesIn(fd()); }

UniqueFd Folder::OpenFile(std::string_view relative, std::string& why) const {
  why.clear();
  UniqueFd held;  // the folder reached so far, past this one
  int at = fd();
  for (;;) {
    const std::size_t slash = relative.find('/');
    const std::string name(relative.substr(0, slash));
    if (name.empty() || name == "." || name == "..") {
      why = "not a path below the folder";
      return UniqueFd();
    }
    if (slash == std::string_view::npos) {
      // Non-blocking, so that a planted FIFO cannot hold the release.
      UniqueFd file(openat(at, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
      struct stat info {};
      if (!file) {
        const int error = errno;
        if (error != ENOENT) why = OpenFault(at, name, error);
      } else if (fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        why = "not a plain file";
      } else {
        return file;
      }
      return UniqueFd();
    }
    UniqueFd next(openat(at, name.c_str(), kFolderFlags));
    if (!next) {
      const int error = errno;
      if (error != ENOENT) why = name + ": " + OpenFault(at, name, error);
      return UniqueFd();
    }
    held = std::move(next);
    at = held.get();
    relative.remove_prefix(slash + 1);
  }
}

std::optional<std::string> Folder::ReadFile(std::string_view relative, std::uint64_t max_bytes,
                                            std::string& why) const {
  const UniqueFd file = OpenFile(relative, why);
  if (!file) return std::nullopt;
  std::string bytes;
  if (!StreamFile(file.get(), max_bytes, [&](std::string_view piece) {
        bytes.append(piece);
        return true;
      })) {
    why = "longer than " + std::to_string(max_bytes) + " bytes, or unreadable";
    return std::nullopt;
  }
  return bytes;
}

bool Folder::Holds(std::string_view relative, std::uint64_t size, const Sha256Digest& sha256) const {
  std::string why;
  const UniqueFd file = OpenFile(relative, why);
  struct stat info {};
  if (!file || fstat(file.get(), &info) != 0 || static_cast<std::uint64_t>(info.st_size) != size) return false;
  signature::Sha256 hash;
  std::uint64_t read = 0;
  const bool whole = StreamFile(file.get(), size, [&](std::string_view piece) {
    hash.Add(piece.data(), piece.size());
    read += piece.size();
    return true;
  });
  return whole && read == size && hash.Finish() == sha256;
}

bool Folder::RemoveAll(const std::string& name) const { return RemoveIn(fd(), name, 0); }

bool StreamFile(int fd, std::uint64_t max_bytes, const std::function<bool(std::string_view)>& sink) {
  std::unique_ptr<char[]> block(new char[256 * 1024]);
  std::uint64_t total = 0;
  for (;;) {
    const ssize_t got = read(fd, block.get(), 256 * 1024);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    total += static_cast<std::uint64_t>(got);
    if (total > max_bytes || !sink(std::string_view(block.get(), static_cast<std::size_t>(got)))) return false;
  }
}

}  // namespace marlix::publish
