#include "update_command.h"

#include <cstdio>
#include <filesystem>
#include <string_view>

#include "data_download.h"
#include "server_url.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitTrouble = 2;

constexpr char kUpdateHelp[] =
    "Usage: marlix-search update [--server URL]\n"
    "\n"
    "Downloads post.csv, postcode.txt and postver.txt, in that order, from\n"
    "URL/zipcode/search/ into the folder of the default data file\n"
    "($XDG_DATA_HOME/marlix, or ~/.local/share/marlix), one line per file.\n"
    "Each file replaces the local one only once it has arrived whole with a\n"
    "success status and its signature (NAME.sig beside it on the server)\n"
    "verifies with the publisher's key built into this program; after a\n"
    "failure or a refusal the local files not yet replaced are kept.\n"
    "\n"
    "  --server URL   the service's base address (default: $MARLIX_SERVER_URL,\n"
    "                 or the address built in)\n"
    "\n"
    "Exit status: 0 when all three files were replaced, 2 otherwise.\n";

int UpdateUsageError(const std::string& message) {
  std::fprintf(stderr, "marlix-search: %s\n\n%s", message.c_str(), kUpdateHelp);
  return kExitTrouble;
}

}  // namespace

int RunUpdateCommand(int argc, char** argv, const std::string& data_file) {
  marlix::ServiceAccess access;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUpdateHelp, stdout);
      return kExitDone;
    }
    if (arg != "--server") return UpdateUsageError("update: unknown argument '" + std::string(arg) + "'");
    if (i + 1 >= argc) return UpdateUsageError("--server needs a URL");
    access.base_url = argv[++i];
  }

  const std::filesystem::path folder = std::filesystem::path(data_file).parent_path();
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);
  std::printf("updating %s from %s\n", folder.c_str(), access.base_url.c_str());
  std::fflush(stdout);

  marlix::DownloadEvents events;
  events.file_done = [](const std::string& name, std::uint64_t bytes) {
    std::printf("  %-13s %llu bytes\n", name.c_str(), static_cast<unsigned long long>(bytes));
    std::fflush(stdout);
  };
  const marlix::DownloadOutcome outcome =
      marlix::DownloadDataFiles(access, "marlix-search", folder.string(), events);
  switch (outcome.result) {
    case marlix::DownloadResult::kComplete:
      return kExitDone;
    case marlix::DownloadResult::kNetworkFailure:
      std::fprintf(stderr, "marlix-search: cannot download %s: %s\n", outcome.file.c_str(), outcome.detail.c_str());
      break;
    case marlix::DownloadResult::kRefused:
      std::fprintf(stderr, "marlix-search: refused %s: %s\n", outcome.file.c_str(), outcome.detail.c_str());
      break;
    case marlix::DownloadResult::kLocalFileFailure:
      std::fprintf(stderr, "marlix-search: cannot save %s in %s: %s\n", outcome.file.c_str(), folder.c_str(),
                   outcome.detail.c_str());
      break;
  }
  std::fprintf(stderr, "marlix-search: %s and the files after it were left as they were\n", outcome.file.c_str());
  return kExitTrouble;
}
