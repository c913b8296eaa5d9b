// The data update as the service publishes it: a signed manifest per edition,
// the changed files only, gzip-compressed or as a line delta from the edition
// the client holds, resumed where an earlier try stopped, and put in place
// as one set.
//
// Everything new is made in the data folder's work folder (`.update`) first
// and changes into place as one set (data_set.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "data_download.h"
#include "data_set.h"
#include "manifest.h"

namespace marlix {

struct DataUpdateEvents : DownloadEvents {
  // The bytes that arrived so far (a resumed file's earlier ones included)
  // out of all the update fetches.
  std::function<void(std::uint64_t done, std::uint64_t total)> progress;
  // A file that is already the edition's and is not fetched.
  std::function<void(const std::string& name)> unchanged;
};

struct DataUpdateOutcome : DownloadOutcome {
  bool staged = false;        // a new set waits in the work folder for CommitDataSet
  bool up_to_date = false;    // the local set is the server's edition already
  std::uint64_t edition = 0;  // the server's, when it has a manifest
};

// Fetches what changed into the work folder. `cancel`, when set, stops the
// transfer at the next block and keeps what arrived. A manifest that is there
// but is not the publisher's, too large or unreadable is refused and nothing
// is fetched; only a service that has none (404), for a client that has never
// installed one, is fetched file by file, each file with its signature.
DataUpdateOutcome PrepareDataUpdate(const ServiceAccess& access, const char* agent, const std::string& folder,
                                    const DataUpdateEvents& events, const std::atomic<bool>* cancel = nullptr);

// The manifest the local set was installed with, if any.
std::optional<Manifest> LocalManifest(const std::string& folder);

// The service's signed manifest. A fetch that failed keeps its verdict, and
// `missing` when the service said it has none (404); one that arrived signed
// but cannot be read is refused as kBadManifest.
struct ManifestFetch : FetchVerdict {
  std::optional<Manifest> manifest;
  std::string text;  // as signed
  bool missing = false;
};
ManifestFetch FetchManifest(CInternetSession& session, const std::string& base_url);

// True when the file at `path` has exactly `size` bytes and this SHA-256:
// the one a manifest lists, not another file that is signed too.
bool IsListedFile(const std::string& path, std::uint64_t size, const Sha256Digest& sha256);

// Prepares and commits in one go, for callers with no window to keep alive.
DataUpdateOutcome UpdateDataFiles(const ServiceAccess& access, const char* agent, const std::string& folder,
                                  const DataUpdateEvents& events, const std::atomic<bool>* cancel = nullptr);

}  // namespace marlix
