#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "local_files.h"

namespace marlix {

void MakeDirectory(const std::string& path) { mkdir(path.c_str(), 0777); }

bool MoveIntoPlace(const std::string& from, const std::string& to, std::string& error) {
  if (std::rename(from.c_str(), to.c_str()) == 0) return true;
  error = LastFileError();
  return false;
}

std::string LastFileError() { return std::strerror(errno); }

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

}  // namespace marlix

#include <fcntl.h>
#include <unistd.h>

namespace marlix {

bool MakePrivateDirectory(const std::string& path) {
  mkdir(path.c_str(), 0700);
  struct stat info {};
  return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

FileStream OpenWorkFile(const std::string& path, bool keep) {
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (keep ? 0 : O_TRUNC), 0666);
  if (fd < 0) return nullptr;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    errno = EINVAL;
    return nullptr;
  }
  FileStream file(fdopen(fd, "r+b"));
  if (!file) close(fd);
  return file;
}

bool FlushToDisk(std::FILE* file) { return std::fflush(file) == 0 && fsync(fileno(file)) == 0; }

bool LastFileErrorIsDiskFull() { return errno == ENOSPC; }

}  // namespace marlix
