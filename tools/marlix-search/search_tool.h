// What marlix-search's commands share: their complaints on standard error and
// the data set made whole before it is read.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

#include "data_set.h"

namespace marlix {

inline constexpr int kToolExitTrouble = 2;

// "WHO: MESSAGE" on standard error, then `usage` (the usage text after a bad
// argument); returns the exit status of trouble.
inline int Complain(const char* who, const std::string& message, const char* usage = "") {
  std::fprintf(stderr, "%s: %s\n%s", who, message.c_str(), usage);
  return kToolExitTrouble;
}

// A change of the data set that a kill left half done is finished before
// anything of the set beside `data_file` is read: the files are then all of
// one edition.
inline void RecoverDataBeside(const std::string& data_file) {
  const std::string folder = std::filesystem::path(data_file).parent_path().string();
  RecoverDataSet(folder.empty() ? "." : folder);
}

}  // namespace marlix
