#include <windows.h>

#include <cstdio>

#include "program_update.h"

namespace marlix::updater {

// The C runtime's rename fails when the target exists, as the swap expects.
bool SystemFiles::Rename(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

bool SystemFiles::Remove(const std::string& path) { return std::remove(path.c_str()) == 0; }

bool SystemFiles::Exists(const std::string& path) {
  return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace marlix::updater
