// The download of the postal data files from the service into a local folder,
// and the fetch of one signed file that every download of both programs uses.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "data_files.h"
#include "internet.h"
#include "server_url.h"

namespace marlix {

// The most a data file may have: the whole country's data is some 500 MB; the
// version text is a few lines. A server that sends more is not believed.
inline constexpr std::uint64_t kMaxDataFileBytes = std::uint64_t{1} << 30;
inline constexpr std::uint64_t kMaxDataVersionBytes = 64 * 1024;
std::uint64_t DataFileMaxBytes(std::string_view name);

// What the download tells its window (or terminal) as it goes. Texts are
// UTF-8. Every member may be left empty.
struct DownloadEvents {
  std::function<void(const std::string& text)> status;            // the status line
  std::function<void(const std::string& message)> local_failure;  // a message box
  std::function<void(const std::string& name, const std::string& local_path)> file_started;
  std::function<void(const std::string& name, std::uint64_t bytes)> file_done;
};

// kRefused: the file arrived but is not taken (see Refusal).
// kCancelled: stopped by the user; what arrived is kept for the next try.
enum class DownloadResult { kComplete, kNetworkFailure, kLocalFileFailure, kRefused, kCancelled };

// Why a file that arrived was not taken.
enum class Refusal {
  kNone,
  kTooLarge,      // more bytes than the file may have
  kUnsigned,      // the server has no signature for it
  kBadSignature,  // a signature that is not the publisher's over these bytes
  kNotNewer,      // a program that is not newer than the installed one
  kNotListed,     // bytes that are not what the manifest lists for the file
  kBadManifest,   // a manifest that cannot be read
  kOlderEdition,  // a manifest of an edition below the one installed
  kWrongForm,     // signed bytes that are not the file their name says (DataFileCheck)
};

// The status line's text for a file `name` that arrived and was not taken.
std::string RefusalText(Refusal refusal, const std::string& name);

// How one fetch ended; `detail` says why, for a log or a terminal.
struct FetchVerdict {
  DownloadResult result = DownloadResult::kComplete;
  Refusal refusal = Refusal::kNone;
  std::string detail;
};

struct DownloadOutcome {
  DownloadResult result = DownloadResult::kComplete;
  std::string file;    // the file that failed
  std::string detail;  // why, for a log or a terminal
};

// Fetches `url` into `local_path` by way of a temporary file beside it, which
// takes the file's place only when the whole body arrived with a 2xx status,
// within `max_bytes`, and its signature (the server's `url` + ".sig")
// verifies with a built-in key; otherwise `local_path` is left as it was and
// the temporary file removed. `opened` runs once the local file is open,
// before the body is copied.
struct FileFetch : FetchVerdict {
  std::uint64_t bytes = 0;
};
// What a caller may add: `progress` runs after each whole block is written,
// with the bytes so far; `check` looks at the finished temporary file once its
// signature has verified, and may refuse it or fail the fetch.
// `cancel`, when set, stops the transfer at the next block (kCancelled).
struct FetchHooks {
  std::function<void(std::uint64_t bytes)> progress;
  std::function<FetchVerdict(const std::string& temp_path)> check;
  const std::atomic<bool>* cancel = nullptr;
};
FileFetch FetchIntoFile(CInternetSession& session, const std::string& url, const std::string& local_path,
                        std::uint64_t max_bytes, const std::function<void()>& opened = {},
                        const FetchHooks& hooks = {});

// Fetches a small file into memory, kept only when it arrived whole with a
// 2xx status, within `max_bytes` and the small files' deadline, and its
// signature verifies. `missing`: the server said it has no such file (404).
struct BytesFetch : FetchVerdict {
  std::string bytes;
  bool missing = false;
};
BytesFetch FetchSignedBytes(CInternetSession& session, const std::string& url, std::uint64_t max_bytes);

// Downloads the three data files, in order, into `folder` (created when
// missing), each taken only when it is what its name says (DataFileCheck).
// Stops at the first failure, refusal or cancel; files fetched before it
// stay. The status tells which file comes, and that the download is complete
// once the last is in place.
DownloadOutcome DownloadDataFiles(const ServiceAccess& access, const char* agent, const std::string& folder,
                                  const DownloadEvents& events, const std::atomic<bool>* cancel = nullptr);

}  // namespace marlix
