// marlix-publish: the publisher's tools for the service's files, one
// subcommand each.
#include <cstdio>
#include <string_view>

#include "data_command.h"
#include "sign_commands.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitTrouble = 2;

struct Command {
  std::string_view name;
  const char* usage;
  int (*run)(int argc, char** argv);
};

constexpr Command kCommands[] = {
    {"data", kDataUsage, RunDataCommand},          {"keygen", kKeygenUsage, RunKeygenCommand},
    {"sign", kSignUsage, RunSignCommand},          {"verify", kVerifyUsage, RunVerifyCommand},
    {"release", kReleaseUsage, RunReleaseCommand},
};

void PrintUsage(std::FILE* to) {
  std::fputs("Usage:\n", to);
  for (const Command& c : kCommands) std::fputs(c.usage, to);
  std::fputs("  marlix-publish COMMAND --help\n", to);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string_view name = argc > 1 ? argv[1] : "";
  for (const Command& c : kCommands) {
    if (name == c.name) return c.run(argc - 1, argv + 1);
  }
  if (name == "--help" || name == "-h" || name == "help") {
    PrintUsage(stdout);
    return kExitDone;
  }
  if (name.empty()) {
    std::fputs("marlix-publish: no command given\n", stderr);
  } else {
    std::fprintf(stderr, "marlix-publish: unknown command '%.*s'\n", static_cast<int>(name.size()), name.data());
  }
  PrintUsage(stderr);
  return kExitTrouble;
}
