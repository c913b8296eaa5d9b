#include "key_folder.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace marlix::publish {

namespace {

// "0755" for the permission bits of `mode`.
std::string OctalMode(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

}  // namespace

bool MakePrivateFolder(const std::string& dir, std::string& why) {
  struct stat st = {};
  if (::stat(dir.c_str(), &st) != 0) {
    if (errno != ENOENT) {
      why = dir + ": " + std::strerror(errno);
      return false;
    }
    // The folders above it are ordinary ones; only the key's own is closed.
    std::filesystem::path path = std::filesystem::path(dir).lexically_normal();
    if (!path.has_filename()) path = path.parent_path();  // "keys/" names "keys"
    const std::filesystem::path parent = path.parent_path();
    std::error_code error;
    if (!parent.empty()) std::filesystem::create_directories(parent, error);
    if (error) {
      why = dir + ": cannot be made: " + error.message();
      return false;
    }
    if (::mkdir(path.c_str(), 0700) == 0) return true;
    if (errno != EEXIST || ::stat(dir.c_str(), &st) != 0) {
      why = dir + ": cannot be made: " + std::strerror(errno);
      return false;
    }
  }
  if (!S_ISDIR(st.st_mode)) {
    why = dir + ": is not a folder";
    return false;
  }
  if ((st.st_mode & 077) != 0) {
    why = dir + ": group or others can read or enter this folder (mode " + OctalMode(st.st_mode) +
          "); a private key goes only in a folder of its owner's alone: chmod 700 " + dir + ", or name a new folder";
    return false;
  }
  return true;
}

}  // namespace marlix::publish
