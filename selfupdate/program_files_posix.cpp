#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>

#include "program_update.h"

namespace marlix::updater {

// POSIX rename replaces its target; the swap relies on it refusing to.
bool SystemFiles::Rename(const std::string& from, const std::string& to) {
  return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
}

bool SystemFiles::Remove(const std::string& path) { return std::remove(path.c_str()) == 0; }

bool SystemFiles::Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace marlix::updater
