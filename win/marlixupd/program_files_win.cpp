#include <windows.h>

#include <cstdio>

#include "program_update.h"
#include "text_win.h"

namespace marlix::updater {

// Paths are UTF-8, named to the system in UTF-16. The C runtime's rename fails when the target exists, as the swap
// expects.
bool SystemFiles::Rename(const std::string& from, const std::string& to) {
  return ::_wrename(WideFromUtf8(from).c_str(), WideFromUtf8(to).c_str()) == 0;
}

bool SystemFiles::Remove(const std::string& path) { return RemoveFileUtf8(path); }

bool SystemFiles::Exists(const std::string& path) {
  return ::GetFileAttributesW(WideFromUtf8(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace marlix::updater
