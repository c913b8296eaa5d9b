// The data folder's set of files as it changes, with no network: the work
// folder where a new set is made, its change into place as one set, and the
// record that lets an update trust the installed manifest's hashes. Every
// program that reads the data links this (marlix-search on its own, without
// the internet access), so that each finishes a change a kill interrupted
// before it reads.
//
// The set changes in one step that survives a kill at any instant: a marker
// file in the work folder says its files are whole and are to replace the
// set; whoever finds the marker (the update itself, a search, the next
// start) moves them in, the manifest last, and removes it. Without the
// marker the old set stands and the work folder keeps what arrived.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace marlix {

inline constexpr char kWorkFolder[] = ".update";

// Writes `bytes` as the file `path` of the work folder (never through a
// link), through to the disk.
bool WriteWorkFile(const std::string& path, std::string_view bytes);

// Puts a staged set in place, the manifest last, and syncs the folder. False
// with the reason when a file cannot take its place (on Windows, one that is
// open); the marker stays, so the next try or start finishes the change.
bool CommitDataSet(const std::string& folder, std::string& error);

// What a program does before it reads the data: finishes a change that was
// marked whole and interrupted, after it has made the work folder its own
// (links there are removed, never followed). True when the set is whole
// (nothing was left to do, or done). Needs no network, and costs a look at
// the work folder when there is nothing to do.
bool RecoverDataSet(const std::string& folder);

// The size and modification time of each file of the set when the update put
// it in place (or found it whole): while a file still has both, the installed
// manifest's hash is its own; otherwise it must be hashed.
class InstalledStamps {
 public:
  static InstalledStamps Read(const std::string& folder);
  // Records the set's files as they are now: those `vouched` for (just put
  // in place, or hashed and found whole) and those whose record still holds.
  static void Record(const std::string& folder, const std::vector<std::string>& vouched);
  // True when the file `name` in `folder` has the size and time recorded.
  bool Hold(const std::string& folder, std::string_view name) const;

 private:
  struct Stamp {
    std::string name;
    std::uint64_t size = 0;
    long long time = 0;
  };
  std::vector<Stamp> stamps_;
};

}  // namespace marlix
