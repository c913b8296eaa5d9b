// One release at a time in a served folder. Two at once would number their
// editions alike, carry over each other's files half written and can put an
// older manifest over a newer one; so a release holds an exclusive lock on
// the folder's lock file from before it reads the folder until its last
// change, and a second release waits for it, saying so once. Waiting rather
// than giving up: the second release then reads what the first published and
// goes on from there, so that no scheduled release needs a retry of its own.
//
// The lock is the kernel's (flock), so a release that dies lets go of it.
// The file is made private and never removed (a release that removed it
// could leave a waiting one locking a file nobody else can find); a link or
// anything but a plain file under its name is refused rather than followed,
// and a lock is only taken on the file that still has the name.
#pragma once

#include <optional>
#include <string>

#include "served_folder.h"

namespace marlix::publish {

inline constexpr char kReleaseLockFile[] = ".marlix-publish.lock";

class ReleaseLock {
 public:
  // Waits for the lock of `served`; nothing, with `why` set, when it cannot
  // be had.
  static std::optional<ReleaseLock> Take(const Folder& served, std::string& why);

 private:
  explicit ReleaseLock(UniqueFd fd) : fd_(std::move(fd)) {}
  UniqueFd fd_;
};

}  // namespace marlix::publish
