#include "update_command.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string_view>

#include "data_update.h"
#include "server_url.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitTrouble = 2;

constexpr char kUpdateHelp[] =
    "Usage: marlix-search update [--server URL]\n"
    "\n"
    "Brings the data files (post.csv, postcode.txt, postver.txt) in the folder of\n"
    "the default data file ($XDG_DATA_HOME/marlix, or ~/.local/share/marlix) to\n"
    "the edition that URL/zipcode/search/manifest.txt names, once that manifest's\n"
    "signature (manifest.txt.sig) verifies with the publisher's key built into\n"
    "this program. Files that are already the edition's are not fetched\n"
    "(\"unchanged NAME\"); the others come compressed, or as a delta from the\n"
    "local file, and must be what the manifest lists. The new files replace the\n"
    "old ones together, once all have arrived; an older edition is refused. A\n"
    "transfer cut off (or stopped with Ctrl-C) goes on where it stopped next\n"
    "time. On a terminal the transfer shows its progress.\n"
    "A service without a manifest is fetched file by file, each file replacing\n"
    "the local one once it has arrived whole with a good signature (NAME.sig).\n"
    "\n"
    "  --server URL   the service's base address (default: $MARLIX_SERVER_URL,\n"
    "                 or the address built in)\n"
    "\n"
    "Exit status: 0 when the local files are the server's, 2 otherwise.\n";

std::atomic<bool> g_cancel{false};
extern "C" void OnInterrupt(int) { g_cancel = true; }

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

  marlix::DataUpdateEvents events;
  const bool terminal = isatty(STDOUT_FILENO) != 0;
  events.unchanged = [](const std::string& name) {
    std::printf("  %-13s unchanged\n", name.c_str());
    std::fflush(stdout);
  };
  events.file_done = [terminal](const std::string& name, std::uint64_t bytes) {
    std::printf("%s  %-13s %llu bytes\n", terminal ? "\r\033[K" : "", name.c_str(),
                static_cast<unsigned long long>(bytes));
    std::fflush(stdout);
  };
  if (terminal) {
    events.progress = [last = -1](std::uint64_t done, std::uint64_t total) mutable {
      const int percent = total > 0 ? static_cast<int>(done * 100 / total) : 100;
      if (percent == last) return;
      last = percent;
      std::printf("\r\033[K  %3d%%  %llu of %llu bytes", percent, static_cast<unsigned long long>(done),
                  static_cast<unsigned long long>(total));
      std::fflush(stdout);
    };
  }
  std::signal(SIGINT, OnInterrupt);
  const marlix::DataUpdateOutcome outcome =
      marlix::UpdateDataFiles(access, "marlix-search", folder.string(), events, &g_cancel);
  std::signal(SIGINT, SIG_DFL);
  if (terminal && outcome.result != marlix::DownloadResult::kComplete) std::printf("\n");
  if (outcome.up_to_date) std::printf("edition %llu: up to date\n", static_cast<unsigned long long>(outcome.edition));
  switch (outcome.result) {
    case marlix::DownloadResult::kComplete:
      return kExitDone;
    case marlix::DownloadResult::kNetworkFailure:
      std::fprintf(stderr, "marlix-search: cannot download %s: %s\n", outcome.file.c_str(), outcome.detail.c_str());
      break;
    case marlix::DownloadResult::kRefused:
      std::fprintf(stderr, "marlix-search: refused %s: %s\n", outcome.file.c_str(), outcome.detail.c_str());
      break;
    case marlix::DownloadResult::kCancelled:
      std::fprintf(stderr, "marlix-search: stopped; the next update goes on where this one stopped\n");
      break;
    case marlix::DownloadResult::kLocalFileFailure:
      std::fprintf(stderr, "marlix-search: cannot save %s in %s: %s\n", outcome.file.c_str(), folder.c_str(),
                   outcome.detail.c_str());
      break;
  }
  if (outcome.edition == 0 && outcome.file != marlix::kManifestFile) {
    std::fprintf(stderr, "marlix-search: %s and the files after it were left as they were\n", outcome.file.c_str());
  } else {
    std::fprintf(stderr, "marlix-search: the local data files were left as they were\n");
  }
  return kExitTrouble;
}
