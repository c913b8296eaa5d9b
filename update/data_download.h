// The download of the postal data files from the service into a local folder.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "internet.h"
#include "server_url.h"

namespace marlix {

// Where the Windows program keeps its data files.
inline constexpr char kDataFolder[] = "c:\\postcode";

// The data files, in the order they are fetched.
inline constexpr const char* kDataFiles[] = {"post.csv", "postcode.txt", "postver.txt"};

// What the download tells its window (or terminal) as it goes. Texts are in
// the program's ANSI code page. Every member may be left empty.
struct DownloadEvents {
  std::function<void(const std::string& text)> status;             // the status line
  std::function<void(const std::string& message)> local_failure;   // a message box
  std::function<void(const std::string& name, const std::string& local_path)> file_started;
  std::function<void(const std::string& name, std::uint64_t bytes)> file_done;
};

enum class DownloadResult { kComplete, kNetworkFailure, kLocalFileFailure };

struct DownloadOutcome {
  DownloadResult result = DownloadResult::kComplete;
  std::string file;    // the file that failed
  std::string detail;  // why, for a log or a terminal
};

// Fetches `url` into `local_path` by way of a temporary file beside it, which
// takes the file's place only when the whole body arrived with a 2xx status;
// otherwise `local_path` is left as it was. `opened` runs once the local file
// is open, before the body is copied.
struct FileFetch {
  DownloadResult result = DownloadResult::kComplete;
  std::uint64_t bytes = 0;
  std::string detail;
};
// What a caller may add: `progress` runs after each whole block is written,
// with the bytes so far; `accept` looks at the finished temporary file and may
// refuse it (saying why), which fails the fetch as a network failure does.
struct FetchHooks {
  std::function<void(std::uint64_t bytes)> progress;
  std::function<bool(const std::string& temp_path, std::string& why)> accept;
};
FileFetch FetchIntoFile(CInternetSession& session, const std::string& url, unsigned long flags,
                        const std::string& local_path, const std::function<void()>& opened = {},
                        const FetchHooks& hooks = {});

// Downloads the three data files, in order, into `folder` (created when
// missing). Stops at the first failure; files fetched before it stay.
DownloadOutcome DownloadDataFiles(const ServiceAccess& access, const char* agent, const std::string& folder,
                                  const DownloadEvents& events);

}  // namespace marlix
