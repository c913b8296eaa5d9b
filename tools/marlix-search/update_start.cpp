#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "update_command.h"

int StartUpdateCommand(int argc, char** argv, const std::string& data_file) {
  // The helper sits beside this program; failing that, it is looked for on PATH.
  std::error_code error;
  std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  program = error ? std::filesystem::path("marlix-search-update") : program.replace_filename("marlix-search-update");
  std::vector<char*> args = {const_cast<char*>(program.c_str()), const_cast<char*>("--data-file"),
                             const_cast<char*>(data_file.c_str())};
  for (int i = 0; i < argc; ++i) args.push_back(argv[i]);
  args.push_back(nullptr);
  execvp(program.c_str(), args.data());
  std::fprintf(stderr, "marlix-search: cannot start %s: %s\n", program.c_str(), std::strerror(errno));
  return 2;
}
