// marlix-search-update: the update command of marlix-search, which starts it
// as: marlix-search-update --data-file FILE update [ARGS...]
#include <cstdio>
#include <string>
#include <string_view>

#include "update_command.h"

int main(int argc, char** argv) {
  if (argc < 4 || std::string_view(argv[1]) != "--data-file") {
    std::fputs("marlix-search-update: run it as 'marlix-search update'\n", stderr);
    return 2;
  }
  return RunUpdateCommand(argc - 3, argv + 3, argv[2]);
}
