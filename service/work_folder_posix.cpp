#include "work_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "file_stream.h"

namespace marlix {

namespace {

// Removes the entry `name` of the folder `parent`: a link or a file itself,
// a folder with what it holds, never following a link.
bool RemoveEntry(int parent, const char* name) {
  struct stat info {};
  if (fstatat(parent, name, &info, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
  if (!S_ISDIR(info.st_mode)) return unlinkat(parent, name, 0) == 0 || errno == ENOENT;
  const DirStream dir = DirOfDescriptor(openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!dir) return false;
  bool removed = true;
  // cppcheck-suppress readdirCalled ; each stream is read by one thread, and readdir_r is deprecated
  while (const dirent* entry = readdir(dir.get())) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      removed = RemoveEntry(dirfd(dir.get()), entry->d_name) && removed;
    }
  }
  return removed && unlinkat(parent, name, AT_REMOVEDIR) == 0;
}

}  // namespace

bool MakePrivateDirectory(const std::string& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode) && unlink(path.c_str()) != 0) return false;
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  const DirStream dir = DirOfDescriptor(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  // Another user's folder cannot be made ours.
  if (!dir || fchmod(dirfd(dir.get()), 0700) != 0) return false;
  bool ours = true;
  // cppcheck-suppress readdirCalled ; each stream is read by one thread, and readdir_r is deprecated
  while (const dirent* entry = readdir(dir.get())) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    const bool plain = fstatat(dirfd(dir.get()), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                       S_ISREG(info.st_mode) && info.st_nlink == 1;
    if (!plain) ours = RemoveEntry(dirfd(dir.get()), entry->d_name) && ours;
  }
  return ours;
}

bool IsPlainFile(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool PathTaken(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

bool SyncFolder(const std::string& path) {
  const DirStream dir = DirOfDescriptor(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return dir && fsync(dirfd(dir.get())) == 0;
}

FileStream OpenWorkFile(const std::string& path, bool keep) {
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (keep ? 0 : O_TRUNC), 0666);
  if (fd < 0) return nullptr;
  FileStream file = StreamOfDescriptor(fd, "r+b");
  struct stat info {};
  if (file && (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
    file.reset();
    errno = EINVAL;
  }
  return file;
}

bool FlushToDisk(std::FILE* file) { return std::fflush(file) == 0 && fsync(fileno(file)) == 0; }

bool LastFileErrorIsDiskFull() { return errno == ENOSPC; }

}  // namespace marlix
