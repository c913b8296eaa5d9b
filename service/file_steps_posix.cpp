#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "file_steps.h"

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
